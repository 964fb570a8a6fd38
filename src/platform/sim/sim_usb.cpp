// The USB calls of the platform layer, answered by the virtual bus.
#include <cstring>
#include <functional>
#include <thread>
#include <type_traits>

#include "platform/os.h"
#include "platform/usb.h"
#include "sim/virtual_bus.h"

namespace maltor::platform {

using sim::IoState;
using sim::SimIo;
using sim::VirtualBus;
using sim::VirtualDevice;

// The bus's handles are the platform's handles, passed through unchanged.
static_assert(std::is_same_v<sim::Handle, Handle> && sim::kNoHandle == kInvalidHandle);
static_assert(sizeof(SimIo) <= sizeof(IoRecord::opaque));

namespace {

SimIo& sim_io(IoRecord& io) {
  return *reinterpret_cast<SimIo*>(io.opaque);
}

IoStatus status_of(IoState state) {
  switch (state) {
    case IoState::kPending:
      return IoStatus::kPending;
    case IoState::kDone:
      return IoStatus::kDone;
    case IoState::kFailed:
      break;
  }
  return IoStatus::kFailed;
}

}  // namespace

void backend::enumerate_devices(DeviceVisitor visit, void* context) {
  VirtualBus& bus = VirtualBus::get();
  // Snapshot the enumeration under the lock; visit without it, since the
  // visitor opens devices and so takes the lock again.
  DeviceEntry entries[sim::kMaxDevices];
  int count = 0;
  {
    std::lock_guard held(bus.lock);
    for (int i = 0; i < bus.plugged_count(); ++i) {
      const VirtualDevice& device = *bus.plugged_at(i);
      std::memset(&entries[count], 0, sizeof entries[count]);
      std::strncpy(entries[count].instance_id, device.instance_id,
                   sizeof entries[count].instance_id - 1);
      if (device.has_interface) {
        std::strncpy(entries[count].path, device.path, sizeof entries[count].path - 1);
      }
      std::memcpy(entries[count].serial, device.serial, sizeof device.serial);
      std::memcpy(entries[count].location, device.location, sizeof device.location);
      ++count;
    }
  }
  for (int i = 0; i < count; ++i) {
    if (!visit(context, entries[i])) return;
  }
}

Handle backend::open_device_file(const char* path) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  for (int i = 0; i < bus.plugged_count(); ++i) {
    const VirtualDevice& device = *bus.plugged_at(i);
    if (device.has_interface && !device.open_fails && !device.held_elsewhere &&
        std::strcmp(device.path, path) == 0) {
      return bus.file_handle(device);
    }
  }
  return kInvalidHandle;
}

bool held_elsewhere(const DeviceEntry& entry) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  for (int i = 0; i < bus.plugged_count(); ++i) {
    const VirtualDevice& device = *bus.plugged_at(i);
    if (std::strcmp(device.path, entry.path) == 0) return device.held_elsewhere;
  }
  return false;
}

Handle backend::usb_initialize(Handle file) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_handle(file);
  return device == nullptr ? kInvalidHandle : bus.usb_handle(*device);
}

void usb_free(Handle) {}
void close_device_file(Handle) {}

bool query_device_speed(Handle usb, std::uint8_t* speed) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_handle(usb);
  if (device == nullptr) return false;
  *speed = device->speed;
  return true;
}

bool query_endpoint_count(Handle usb, std::uint8_t alternate_setting, std::uint8_t* count) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_handle(usb);
  if (device == nullptr || alternate_setting != 0) return false;
  *count = device->endpoint_count;
  return true;
}

void io_open(IoRecord& io, bool manual_reset) {
  std::memset(&io, 0, sizeof io);
  sim_io(io).manual_reset = manual_reset;
  sim_io(io).status = IoState::kFailed;
}

void io_close(IoRecord& io) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.unlink(sim_io(io));
}

IoStatus backend::pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                                   std::uint32_t length, IoRecord& record, std::uint32_t* count) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  *count = 0;
  VirtualDevice* device = bus.by_handle(usb);
  if (device == nullptr) return IoStatus::kGone;
  SimIo& io = sim_io(record);
  io.device = device;
  io.pipe = pipe;
  io.thread = this_thread_tag();
  bus.trace(*device, pipe, data, length);
  if (!device->model.write(pipe, data, length)) return IoStatus::kFailed;
  bus.complete(io, IoState::kDone, length);
  bus.pump(*device);
  return IoStatus::kPending;
}

IoStatus backend::pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                                  std::uint32_t length, IoRecord& record, std::uint32_t* count) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  *count = 0;
  VirtualDevice* device = bus.by_handle(usb);
  if (device == nullptr) return IoStatus::kGone;
  SimIo& io = sim_io(record);
  io.device = device;
  io.buffer = buffer;
  io.length = length;
  io.pipe = pipe;
  io.thread = this_thread_tag();
  io.status = IoState::kPending;
  io.signalled = false;
  io.outstanding = true;
  io.next = nullptr;
  SimIo** tail = &device->reads;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = &io;
  // A device armed to vanish does so now, while this read waits for its reply.
  if (pipe == sim::kCommandIn && device->model.take_vanish_request()) {
    bus.unplug(*device);
    return IoStatus::kPending;
  }
  bus.pump(*device);
  return IoStatus::kPending;
}

bool backend::io_wait(IoRecord& record, std::uint32_t timeout_ms) {
  VirtualBus& bus = VirtualBus::get();
  std::unique_lock held(bus.lock);
  SimIo& io = sim_io(record);
  const bool came = bus.wait_until(held, bus.now_ms() + timeout_ms, [&] { return io.signalled; });
  if (came && !io.manual_reset) io.signalled = false;
  return came;
}

IoStatus backend::io_result(Handle, IoRecord& record, bool wait, std::uint32_t* count) {
  VirtualBus& bus = VirtualBus::get();
  std::unique_lock held(bus.lock);
  SimIo& io = sim_io(record);
  if (io.status == IoState::kPending) {
    if (!wait) return IoStatus::kIncomplete;
    bus.changed.wait(held, [&] { return io.status != IoState::kPending; });
  }
  *count = io.status == IoState::kDone ? io.count : 0;
  return status_of(io.status);
}

bool backend::pipe_abort(Handle usb, std::uint8_t pipe) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_handle(usb);
  if (device == nullptr) return false;
  for (SimIo* io = device->reads; io != nullptr;) {
    SimIo* next = io->next;
    if (io->pipe == pipe) bus.complete(*io, IoState::kFailed, 0);
    io = next;
  }
  return true;
}

void cancel_io(Handle file) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_handle(file);
  if (device == nullptr) return;
  const std::uint64_t caller = this_thread_tag();
  for (SimIo* io = device->reads; io != nullptr;) {
    SimIo* next = io->next;
    if (io->thread == caller) bus.complete(*io, IoState::kFailed, 0);
    io = next;
  }
}

bool set_pipe_timeout(Handle usb, std::uint8_t pipe, std::uint32_t timeout_ms) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_handle(usb);
  if (device == nullptr) return false;
  if (pipe == sim::kCommandIn || pipe == sim::kStreamIn) {
    device->read_timeout_ms[pipe == sim::kStreamIn] = timeout_ms;
  }
  return true;
}

bool backend::pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                             std::uint32_t length, std::uint32_t* count) {
  IoRecord record;
  io_open(record, true);
  *count = 0;
  if (backend::pipe_read_async(usb, pipe, buffer, length, record, count) != IoStatus::kPending) {
    return false;
  }
  VirtualBus& bus = VirtualBus::get();
  std::unique_lock held(bus.lock);
  SimIo& io = sim_io(record);
  const auto done = [&] { return io.status != IoState::kPending; };
  // A read still pending is still listed on its device, so the device is
  // alive; one that completed (perhaps by a reset) may name a freed device.
  if (!done()) {
    const std::uint32_t timeout = io.device->read_timeout_ms[pipe == sim::kStreamIn];
    if (timeout != 0) {
      bus.wait_until(held, bus.now_ms() + timeout, done);
    } else {
      bus.changed.wait(held, done);
    }
  }
  if (!done()) bus.complete(io, IoState::kFailed, 0);  // timed out
  bus.unlink(io);
  *count = io.status == IoState::kDone ? io.count : 0;
  return io.status == IoState::kDone;
}

bool backend::pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                              std::uint32_t length, std::uint32_t* count) {
  IoRecord record;
  io_open(record, true);
  const IoStatus status = backend::pipe_write_async(usb, pipe, data, length, record, count);
  if (status != IoStatus::kPending) return false;
  *count = length;
  return true;
}

}  // namespace maltor::platform
