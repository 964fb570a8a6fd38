// Opening and closing a device: the overlapped file handle, the WinUSB
// interface handle and the two queries that tell a usable device.
//
// The handles of every open device are also kept here, by path. The core's
// device table can be reset without closing what it held (a failed readiness
// check does that); WinUSB gives a device to one handle at a time, so such
// orphaned handles would keep the device from being opened again until the
// process ends. Opening a path first releases whatever is still open on it.
#include <cstring>

#include "platform/mutex.h"
#include "platform/win32/usb/win32_usb.h"

namespace maltor::platform {

using win32::from_handle;
using win32::to_handle;
using win32::to_usb;

namespace {

struct OpenDevice {
  Handle file = kInvalidHandle;
  Handle usb = kInvalidHandle;
  char path[sizeof(DeviceEntry::path)] = {};
};

// More than the device table's slots: each path holds at most one entry, so
// only devices on distinct paths need room.
constexpr int kMaxOpenDevices = 16;

// Loops index the table rather than range over it: clang's analysis checks an
// indexed access, not one through a reference.
Mutex g_table_lock;
OpenDevice g_open[kMaxOpenDevices] MALTOR_GUARDED_BY(g_table_lock);

OpenDevice* entry_of_file(Handle file) MALTOR_REQUIRES(g_table_lock) {
  for (OpenDevice& device : g_open) {
    if (device.file == file) return &device;
  }
  return nullptr;
}

// Takes the entry still open on `path` out of the table, so that it can be
// closed outside the lock.
bool take_orphan(const char* path, OpenDevice& orphan) {
  MutexLock held(g_table_lock);
  for (int i = 0; i < kMaxOpenDevices; ++i) {
    if (g_open[i].file != kInvalidHandle && std::strcmp(g_open[i].path, path) == 0) {
      orphan = g_open[i];
      g_open[i] = OpenDevice{};
      return true;
    }
  }
  return false;
}

void remember(Handle file, const char* path) {
  MutexLock held(g_table_lock);
  OpenDevice* free_entry = entry_of_file(kInvalidHandle);
  // Without room the device still opens; only its release after a reset is lost.
  if (free_entry == nullptr) return;
  free_entry->file = file;
  free_entry->usb = kInvalidHandle;
  std::memcpy(free_entry->path, path, std::strlen(path) + 1);
}

}  // namespace

Handle backend::open_device_file(const char* path) {
  if (path == nullptr || std::strlen(path) >= sizeof(DeviceEntry::path)) return kInvalidHandle;
  OpenDevice orphan;
  while (take_orphan(path, orphan)) {
    if (orphan.usb != kInvalidHandle) WinUsb_Free(to_usb(orphan.usb));
    CloseHandle(to_handle(orphan.file));
  }
  const HANDLE file =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (file != INVALID_HANDLE_VALUE) remember(from_handle(file), path);
  return from_handle(file);  // INVALID_HANDLE_VALUE is kInvalidHandle
}

Handle backend::usb_initialize(Handle file) {
  WINUSB_INTERFACE_HANDLE usb = nullptr;
  if (!WinUsb_Initialize(to_handle(file), &usb)) return kInvalidHandle;
  // A null interface handle is as unusable as the invalid one, and the core
  // would take it for an open device.
  if (usb == nullptr) return kInvalidHandle;
  MutexLock held(g_table_lock);
  if (OpenDevice* device = entry_of_file(file)) device->usb = from_handle(usb);
  return from_handle(usb);
}

void usb_free(Handle usb) {
  {
    MutexLock held(g_table_lock);
    for (int i = 0; i < kMaxOpenDevices; ++i) {
      if (g_open[i].usb == usb) g_open[i].usb = kInvalidHandle;
    }
  }
  WinUsb_Free(to_usb(usb));
}

void close_device_file(Handle file) {
  if (file == kInvalidHandle) return;
  {
    MutexLock held(g_table_lock);
    if (OpenDevice* device = entry_of_file(file)) *device = OpenDevice{};
  }
  CloseHandle(to_handle(file));
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
