#include "device_link.h"

#include "errors.h"
#include "usb_access.h"

namespace maltor::tool {

ConnectedDevice connect(Session& session) {
  const Library& library = session.library();
  const auto device_is_ready = MALTOR_FUNCTION(library, DeviceIsReady);
  const auto get_connected = MALTOR_FUNCTION(library, GetConnected);

  ConnectedDevice device{};
  device.endpoints = device_is_ready();
  if (device.endpoints == 0 || get_connected(&device.record) != MALTOR_OK) {
    throw_no_device(session);
  }
  return device;
}

const VirtualDevice* slot0_virtual_device(const Session& session) {
  for (const VirtualDevice& device : session.virtual_devices()) {
    if (device.kind != MALTOR_SIM_FOREIGN) return &device;
  }
  return nullptr;
}

void throw_no_device(const Session& session) {
  std::string message = "no device found";
  // The virtual bus knows no permissions; the host's own bus does.
  if (!session.options().sim) {
    if (const std::string hint = usb_access_hint(); !hint.empty()) message += "\n" + hint;
  }
  throw ToolError(kExitFailed, message);
}

}  // namespace maltor::tool
