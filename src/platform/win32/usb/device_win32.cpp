// Opening and closing a device: the overlapped file handle, the WinUSB
// interface handle and the two queries that tell a usable device.
#include "platform/win32/usb/win32_usb.h"

namespace maltor::platform {

using win32::from_handle;
using win32::to_handle;
using win32::to_usb;

Handle open_device_file(const char* path) {
  const HANDLE file =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  return from_handle(file);  // INVALID_HANDLE_VALUE is kInvalidHandle
}

Handle usb_initialize(Handle file) {
  WINUSB_INTERFACE_HANDLE usb = nullptr;
  if (!WinUsb_Initialize(to_handle(file), &usb)) return kInvalidHandle;
  // A null interface handle is as unusable as the invalid one, and the core
  // would take it for an open device.
  if (usb == nullptr) return kInvalidHandle;
  return from_handle(usb);
}

void usb_free(Handle usb) {
  WinUsb_Free(to_usb(usb));
}

void close_device_file(Handle file) {
  if (file != kInvalidHandle) CloseHandle(to_handle(file));
}

bool query_device_speed(Handle usb, std::uint8_t* speed) {
  UCHAR value = 0;
  ULONG length = sizeof value;
  if (!WinUsb_QueryDeviceInformation(to_usb(usb), DEVICE_SPEED, &length, &value)) return false;
  *speed = value;
  return true;
}

bool query_endpoint_count(Handle usb, std::uint8_t alternate_setting, std::uint8_t* count) {
  USB_INTERFACE_DESCRIPTOR descriptor{};
  if (!WinUsb_QueryInterfaceSettings(to_usb(usb), alternate_setting, &descriptor)) return false;
  *count = descriptor.bNumEndpoints;
  return true;
}

}  // namespace maltor::platform
