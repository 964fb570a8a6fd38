// Discovery through SetupAPI and the configuration manager: every present
// device of the USB device interface class, with its instance id and the path
// of its first interface.
#include "platform/win32/usb/win32_usb.h"
// The interface class GUID is defined in this file, not taken from a library.
#include <cfgmgr32.h>
#include <initguid.h>
#include <setupapi.h>
#include <usbiodef.h>

#include <cstddef>
#include <cstring>

namespace maltor::platform {

namespace {

// Room for the detail record of any path that can fit a DeviceEntry; a longer
// path is reported as none, so the device is skipped.
union InterfaceDetail {
  SP_DEVICE_INTERFACE_DETAIL_DATA_A data;
  char bytes[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) + sizeof(DeviceEntry::path)];
};

bool read_instance_id(const SP_DEVINFO_DATA& device, DeviceEntry& entry) {
  ULONG length = 0;
  if (CM_Get_Device_ID_Size(&length, device.DevInst, 0) != CR_SUCCESS) return false;
  if (length >= sizeof entry.instance_id) return false;
  return CM_Get_Device_IDA(device.DevInst, entry.instance_id, sizeof entry.instance_id - 1, 0) ==
         CR_SUCCESS;
}

void read_interface_path(HDEVINFO set, SP_DEVINFO_DATA& device, DeviceEntry& entry) {
  SP_DEVICE_INTERFACE_DATA interface_data{};
  interface_data.cbSize = sizeof interface_data;
  if (!SetupDiEnumDeviceInterfaces(set, &device, &GUID_DEVINTERFACE_USB_DEVICE, 0,
                                   &interface_data)) {
    return;
  }
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailA(set, &interface_data, nullptr, 0, &required, nullptr);
  InterfaceDetail detail;
  if (required == 0 || required > sizeof detail) return;
  std::memset(&detail, 0, sizeof detail);
  detail.data.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(set, &interface_data, &detail.data, required, nullptr,
                                        nullptr)) {
    return;
  }
  const char* path = detail.bytes + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const char* end = static_cast<const char*>(std::memchr(path, '\0', sizeof entry.path));
  if (end != nullptr) std::memcpy(entry.path, path, static_cast<std::size_t>(end - path) + 1);
}

// The serial number is the last part of the instance id
// ("USB\VID_xxxx&PID_xxxx\<serial>"); Windows makes up a name with '&' in it
// for a device that reports none.
void serial_from_instance_id(DeviceEntry& entry) {
  const char* tail = std::strrchr(entry.instance_id, '\\');
  if (tail == nullptr || std::strchr(tail, '&') != nullptr) return;
  ++tail;
  const std::size_t length = std::strlen(tail);
  if (length >= sizeof entry.serial) return;
  std::memcpy(entry.serial, tail, length + 1);
}

// The location text ("Port_#0004.Hub_#0003"), cut to fit.
void read_location(HDEVINFO set, SP_DEVINFO_DATA& device, DeviceEntry& entry) {
  char text[256] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_LOCATION_INFORMATION, nullptr,
                                         reinterpret_cast<PBYTE>(text), sizeof text - 1, nullptr)) {
    return;
  }
  const std::size_t length = strnlen(text, sizeof entry.location - 1);
  std::memcpy(entry.location, text, length);
  entry.location[length] = '\0';
}

}  // namespace

void backend::enumerate_devices(DeviceVisitor visit, void* context) {
  HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USB_DEVICE, nullptr, nullptr,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return;
  for (DWORD index = 0;; ++index) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiEnumDeviceInfo(set, index, &device)) break;
    DeviceEntry entry;
    std::memset(&entry, 0, sizeof entry);
    if (!read_instance_id(device, entry)) continue;
    read_interface_path(set, device, entry);
    serial_from_instance_id(entry);
    read_location(set, device, entry);
    if (!visit(context, entry)) break;
  }
  // The device set is released after every discovery, so repeated polling
  // of DeviceIsReady leaks nothing.
  SetupDiDestroyDeviceInfoList(set);
}

// WinUSB gives a device to one program at a time, and the only way to learn
// that another has it is to try opening it, which could take it from that
// program for a moment; so no device is reported as held.
bool held_elsewhere(const DeviceEntry&) {
  return false;
}

}  // namespace maltor::platform
