// maltor doctor: the checklist a user runs when no device is found. Each
// check says what it found and, when something is wrong, how to fix it.
#pragma once

#include <string>
#include <vector>

namespace maltor::tool {

enum class CheckStatus { kOk, kWarning, kFailed };

struct DoctorCheck {
  std::string name;  // "library", "devices", ...
  CheckStatus status = CheckStatus::kOk;
  std::string found;  // what the check saw
  std::string fix;    // what to do about it; empty when nothing is wrong
};

// The checks of the host's USB set-up: on Linux libusb, the devices on the
// bus by vendor id, their nodes, the udev rule and who holds interface 0; on
// Windows the device interface and the WinUSB driver. Empty elsewhere.
std::vector<DoctorCheck> host_usb_checks();

// "ok", "warning", "failed".
const char* check_status_name(CheckStatus status);

// "[ok]   library: ..." and an indented "fix: ..." line when there is a fix.
std::string format_check(const DoctorCheck& check);

}  // namespace maltor::tool
