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

std::vector<MaltorDeviceInfo> list_devices(const Library& library) {
  const auto list = MALTOR_FUNCTION(library, MaltorListDevices);
  std::vector<MaltorDeviceInfo> devices(16);
  // Devices may come and go between the count and the copy.
  for (;;) {
    const std::uint32_t present = list(devices.data(), static_cast<std::uint32_t>(devices.size()));
    if (present <= devices.size()) {
      devices.resize(present);
      return devices;
    }
    devices.resize(present);
  }
}

void select_device(const Library& library, const std::string& id) {
  std::string chosen = id;
  // A number is an index into the list, unless some device answers to it as
  // it is (a serial number of digits).
  if (id.find_first_not_of("0123456789") == std::string::npos && id.size() <= 9) {
    const std::vector<MaltorDeviceInfo> devices = list_devices(library);
    bool named = false;
    for (const MaltorDeviceInfo& device : devices) {
      named = named || id == device.serial || id == device.location || id == device.path;
    }
    const std::size_t index = std::stoul(id);
    if (!named && index < devices.size()) chosen = devices[index].path;
  }
  const auto select = MALTOR_FUNCTION(library, MaltorSelectDevice);
  const std::uint8_t result = select(chosen.c_str());
  if (result == MALTOR_ERR_UPDATE_RUNNING) {
    throw ToolError(kExitFailed, "--device: a firmware update is running; the device stays");
  }
  if (result != MALTOR_OK) {
    throw ToolError(kExitFailed,
                    "--device: no device matches '" + id + "' (maltor devices lists them)");
  }
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
