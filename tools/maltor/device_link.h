// Connecting to the device in slot 0, as every device command does first.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The virtual device that discovery put in slot 0: the first one of a known
// kind in bus order; nullptr without --sim. Its speed is the one it was
// plugged with (the library exports no speed query).
const VirtualDevice* slot0_virtual_device(const Session& session);

// The present devices as MaltorListDevices reports them, in discovery order.
std::vector<MaltorDeviceInfo> list_devices(const Library& library);

// Limits discovery to the device `id` names: its serial, location or path,
// else its index in list_devices. Throws ToolError(kExitFailed) when no
// present device matches or an update runs.
void select_device(const Library& library, const std::string& id);

// "no device found" and, where there is one, the reason.
[[noreturn]] void throw_no_device(const Session& session);

}  // namespace maltor::tool
