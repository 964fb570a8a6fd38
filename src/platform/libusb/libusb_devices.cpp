// Open devices over libusb: the static table behind the handles, opening and
// claiming interface 0 with its transfers allocated up front, releasing and
// closing, and the device queries.
#include <cstring>

#include "platform/libusb/libusb_state.h"

namespace maltor::platform {

using namespace libusb_backend;

namespace libusb_backend {

Mutex g_table_lock;

namespace {

OpenDevice g_devices[kMaxOpenDevices];

constexpr std::uint64_t kKindMask = 0xFF;

int index_of(const OpenDevice& device) {
  return static_cast<int>(&device - g_devices);
}

// Interface 0 at alternate setting `alternate` of the active configuration;
// `config` must be freed by the caller.
const libusb_interface_descriptor* interface_zero(libusb_device* device, std::uint8_t alternate,
                                                  libusb_config_descriptor*& config) {
  config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) return nullptr;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& candidate = config->interface[i];
    for (int a = 0; a < candidate.num_altsetting; ++a) {
      const libusb_interface_descriptor& setting = candidate.altsetting[a];
      if (setting.bInterfaceNumber == 0 && setting.bAlternateSetting == alternate) return &setting;
    }
  }
  return nullptr;
}

// A pipe as it is prepared, outside the lock; it enters the table under it.
struct NewPipe {
  std::uint8_t endpoint;
  std::uint8_t type;
  libusb_transfer* transfers[kTransfersPerPipe];
};

void free_transfers(NewPipe* pipes, int count) {
  for (int p = 0; p < count; ++p) {
    for (libusb_transfer*& transfer : pipes[p].transfers) {
      libusb_free_transfer(transfer);
      transfer = nullptr;
    }
  }
}

// One pipe per bulk or interrupt endpoint of interface 0, alternate setting 0,
// each with its transfers, so that starting a transfer never allocates.
bool prepare_pipes(OpenDevice& device, libusb_device_handle* handle) {
  libusb_config_descriptor* config = nullptr;
  const libusb_interface_descriptor* setting = interface_zero(libusb_get_device(handle), 0, config);
  NewPipe pipes[kMaxPipes] = {};
  int count = 0;
  bool ok = setting != nullptr;
  for (int e = 0; ok && e < setting->bNumEndpoints && count < kMaxPipes; ++e) {
    const libusb_endpoint_descriptor& endpoint = setting->endpoint[e];
    const auto type = static_cast<std::uint8_t>(endpoint.bmAttributes & 0x03);
    if (type != LIBUSB_TRANSFER_TYPE_BULK && type != LIBUSB_TRANSFER_TYPE_INTERRUPT) continue;
    NewPipe& pipe = pipes[count++];
    pipe.endpoint = endpoint.bEndpointAddress;
    pipe.type = type;
    for (libusb_transfer*& transfer : pipe.transfers) {
      transfer = libusb_alloc_transfer(0);
      if (transfer == nullptr) ok = false;
    }
  }
  if (config != nullptr) libusb_free_config_descriptor(config);
  if (!ok) {
    free_transfers(pipes, count);
    return false;
  }
  MutexLock held(g_table_lock);
  for (int p = 0; p < count; ++p) {
    Pipe& pipe = device.pipes[p];
    pipe = Pipe{};
    pipe.endpoint = pipes[p].endpoint;
    pipe.type = pipes[p].type;
    for (int t = 0; t < kTransfersPerPipe; ++t) {
      pipe.slots[t].transfer = pipes[p].transfers[t];
      pipe.slots[t].device = &device;
    }
  }
  device.pipe_count = static_cast<std::uint8_t>(count);
  return true;
}

// Ends every transfer, frees what is no longer in flight and releases
// interface 0. A transfer still in flight after the bounded wait is left
// allocated rather than freed under libusb's feet.
void release_interface(OpenDevice& device) {
  cancel_and_wait(device, CancelFilter{});
  libusb_device_handle* handle = nullptr;
  {
    MutexLock held(g_table_lock);
    for (int p = 0; p < device.pipe_count; ++p) {
      for (TransferSlot& slot : device.pipes[p].slots) {
        if (slot.in_flight) continue;
        libusb_free_transfer(slot.transfer);
        slot = TransferSlot{};
      }
    }
    device.pipe_count = 0;
    if (!device.claimed) return;
    device.claimed = false;
    handle = device.handle;
  }
  libusb_release_interface(handle, 0);
}

void close_entry(OpenDevice& device) {
  release_interface(device);
  libusb_device_handle* handle = nullptr;
  {
    MutexLock held(g_table_lock);
    handle = device.handle;
    device.handle = nullptr;
  }
  if (handle != nullptr) libusb_close(handle);
  MutexLock held(g_table_lock);
  ++device.generation;
  device.used = false;
  device.gone = false;
  std::memset(device.path, 0, sizeof device.path);
}

// An entry still open on `path`: the device table was reset without closing
// it, and the core now opens the same device again. Closing it first lets the
// new open claim the interface.
OpenDevice* orphan_on(const char* path) {
  MutexLock held(g_table_lock);
  for (OpenDevice& device : g_devices) {
    if (device.used && device.handle != nullptr && std::strcmp(device.path, path) == 0) {
      return &device;
    }
  }
  return nullptr;
}

// Reserves a free entry; when none is free, one whose device vanished is
// closed and taken instead.
OpenDevice* reserve_entry() {
  OpenDevice* vanished = nullptr;
  {
    MutexLock held(g_table_lock);
    for (OpenDevice& device : g_devices) {
      if (!device.used) {
        device.used = true;
        return &device;
      }
      if (device.gone && device.handle != nullptr && vanished == nullptr) vanished = &device;
    }
  }
  if (vanished == nullptr) return nullptr;
  close_entry(*vanished);
  MutexLock held(g_table_lock);
  if (vanished->used) return nullptr;
  vanished->used = true;
  return vanished;
}

}  // namespace

OpenDevice* devices() {
  return g_devices;
}

Handle make_handle(int index, std::uint32_t generation, HandleKind kind) {
  return (static_cast<Handle>(generation) << 32) | (static_cast<Handle>(index) << 8) |
         static_cast<Handle>(kind);
}

OpenDevice* resolve(Handle handle, HandleKind kind) MALTOR_REQUIRES(g_table_lock) {
  if (handle == kInvalidHandle || (handle & kKindMask) != static_cast<Handle>(kind)) return nullptr;
  const Handle index = (handle >> 8) & 0xFFFFFF;
  if (index >= kMaxOpenDevices) return nullptr;
  OpenDevice& device = g_devices[index];
  if (!device.used || device.handle == nullptr ||
      device.generation != static_cast<std::uint32_t>(handle >> 32)) {
    return nullptr;
  }
  if (kind == HandleKind::kUsb && !device.claimed) return nullptr;
  return &device;
}

Pipe* find_pipe(OpenDevice& device, std::uint8_t endpoint) MALTOR_REQUIRES(g_table_lock) {
  for (int p = 0; p < device.pipe_count; ++p) {
    if (device.pipes[p].endpoint == endpoint) return &device.pipes[p];
  }
  return nullptr;
}

}  // namespace libusb_backend

Handle backend::open_device_file(const char* path) {
  if (path == nullptr || std::strlen(path) >= kPathSize || context() == nullptr) {
    return kInvalidHandle;
  }
  libusb_device* found = find_device(path);
  if (found == nullptr) return kInvalidHandle;
  while (OpenDevice* orphan = orphan_on(path)) close_entry(*orphan);

  OpenDevice* device = reserve_entry();
  libusb_device_handle* handle = nullptr;
  const bool opened = device != nullptr && libusb_open(found, &handle) == LIBUSB_SUCCESS;
  libusb_unref_device(found);
  MutexLock held(g_table_lock);
  if (!opened) {
    if (device != nullptr) device->used = false;
    return kInvalidHandle;
  }
  device->handle = handle;
  device->claimed = false;
  device->gone = false;
  device->pipe_count = 0;
  std::strcpy(device->path, path);
  ++device->generation;
  return make_handle(index_of(*device), device->generation, HandleKind::kFile);
}

Handle backend::usb_initialize(Handle file) {
  OpenDevice* device = nullptr;
  libusb_device_handle* handle = nullptr;
  {
    MutexLock held(g_table_lock);
    device = resolve(file, HandleKind::kFile);
    if (device == nullptr) return kInvalidHandle;
    if (device->claimed) {
      return make_handle(index_of(*device), device->generation, HandleKind::kUsb);
    }
    handle = device->handle;
  }
  // Detached on claim and given back on release, where the OS supports it.
  libusb_set_auto_detach_kernel_driver(handle, 1);
  if (libusb_claim_interface(handle, 0) != LIBUSB_SUCCESS) return kInvalidHandle;
  if (!prepare_pipes(*device, handle)) {
    libusb_release_interface(handle, 0);
    return kInvalidHandle;
  }
  MutexLock held(g_table_lock);
  device->claimed = true;
  return make_handle(index_of(*device), device->generation, HandleKind::kUsb);
}

void usb_free(Handle usb) {
  OpenDevice* device = nullptr;
  {
    MutexLock held(g_table_lock);
    device = resolve(usb, HandleKind::kUsb);
  }
  if (device != nullptr) release_interface(*device);
}

void close_device_file(Handle file) {
  OpenDevice* device = nullptr;
  {
    MutexLock held(g_table_lock);
    device = resolve(file, HandleKind::kFile);
  }
  if (device != nullptr) close_entry(*device);
}

bool query_device_speed(Handle usb, std::uint8_t* speed) {
  libusb_device_handle* handle = nullptr;
  {
    MutexLock held(g_table_lock);
    const OpenDevice* device = resolve(usb, HandleKind::kUsb);
    if (device == nullptr || device->gone || speed == nullptr) return false;
    handle = device->handle;
  }
  // libusb answers the speed from what it cached at enumeration; asking for
  // the configuration reaches the device (or its sysfs node) and so tells a
  // vanished device apart.
  int configuration = 0;
  if (libusb_get_configuration(handle, &configuration) == LIBUSB_ERROR_NO_DEVICE) {
    MutexLock held(g_table_lock);
    if (OpenDevice* device = resolve(usb, HandleKind::kUsb)) device->gone = true;
    return false;
  }
  // WinUSB's values: 3 for high speed and above, 1 below it.
  *speed = libusb_get_device_speed(libusb_get_device(handle)) >= LIBUSB_SPEED_HIGH ? 3 : 1;
  return true;
}

bool query_endpoint_count(Handle usb, std::uint8_t alternate_setting, std::uint8_t* count) {
  libusb_device* usb_device = nullptr;
  {
    MutexLock held(g_table_lock);
    const OpenDevice* device = resolve(usb, HandleKind::kUsb);
    if (device == nullptr || device->gone || count == nullptr) return false;
    usb_device = libusb_get_device(device->handle);
  }
  libusb_config_descriptor* config = nullptr;
  const libusb_interface_descriptor* setting =
      interface_zero(usb_device, alternate_setting, config);
  if (setting != nullptr) *count = setting->bNumEndpoints;
  if (config != nullptr) libusb_free_config_descriptor(config);
  return setting != nullptr;
}

}  // namespace maltor::platform
