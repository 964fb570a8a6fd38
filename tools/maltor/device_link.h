// Connecting to the device in slot 0, as every device command does first.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"
#include "session.h"

namespace maltor::tool {

struct ConnectedDevice {
  MaltorConnection record;
  std::uint8_t endpoints;  // DeviceIsReady's count
};

// Runs DeviceIsReady (discovery when needed) and GetConnected. Throws
// ToolError(kExitFailed) "no device found", with a hint when the host hides
// a device from this user.
ConnectedDevice connect(Session& session);

// "no device found" and, where there is one, the reason.
[[noreturn]] void throw_no_device(const Session& session);

}  // namespace maltor::tool
