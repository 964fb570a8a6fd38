#include "sim/virtual_bus.h"

#include <cstdio>
#include <cstring>

#include "sim/model/device_ids.h"

namespace maltor::sim {

namespace {

// A kind the maker does not build answers as another maker's device.
const UsbIdentity& identity_of(std::uint8_t kind) {
  const UsbIdentity* identity = usb_identity(kind);
  return identity != nullptr ? *identity : kForeignIdentity;
}

}  // namespace

VirtualDevice::VirtualDevice(std::int32_t id_, std::uint8_t kind_, std::uint8_t speed_)
    : id(id_), kind(kind_), speed(speed_), model(kind_) {
  const UsbIdentity& ids = identity_of(kind);
  std::snprintf(path, sizeof path,
                "\\\\?\\usb#vid_%04x&pid_%04x#sim%05d#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                ids.vendor, ids.product, static_cast<int>(id));
  // Each device its own serial number and port, both from its id.
  char own_serial[16];
  char own_location[16];
  std::snprintf(own_serial, sizeof own_serial, "SIM%05d", static_cast<int>(id));
  std::snprintf(own_location, sizeof own_location, "1-%d", static_cast<int>(id));
  set_identity(own_serial, own_location);
}

bool VirtualDevice::set_identity(const char* new_serial, const char* new_location) {
  if ((new_serial != nullptr && std::strlen(new_serial) >= sizeof serial) ||
      (new_location != nullptr && std::strlen(new_location) >= sizeof location)) {
    return false;
  }
  if (new_serial != nullptr) std::snprintf(serial, sizeof serial, "%s", new_serial);
  if (new_location != nullptr) std::snprintf(location, sizeof location, "%s", new_location);
  const UsbIdentity& ids = identity_of(kind);
  // As Windows names them: the serial when there is one, else a generated name.
  if (serial[0] != '\0') {
    std::snprintf(instance_id, sizeof instance_id, "USB\\VID_%04X&PID_%04X\\%s", ids.vendor,
                  ids.product, serial);
  } else {
    std::snprintf(instance_id, sizeof instance_id, "USB\\VID_%04X&PID_%04X\\6&SIM&%d", ids.vendor,
                  ids.product, static_cast<int>(id));
  }
  return true;
}

VirtualBus& VirtualBus::get() {
  static VirtualBus bus;
  return bus;
}

VirtualDevice* VirtualBus::plug(std::uint8_t kind, std::uint8_t speed, std::int32_t position) {
  if (order_count_ == kMaxDevices || device_total_ == kDeviceStore) return nullptr;
  auto& slot = devices_[device_total_];
  slot = std::make_unique<VirtualDevice>(first_id_ + device_total_, kind, speed);
  ++device_total_;
  VirtualDevice* device = slot.get();
  device->model.advance_time(now_ms_);
  if (position < 0 || position > order_count_) position = order_count_;
  for (int i = order_count_; i > position; --i) order_[i] = order_[i - 1];
  order_[position] = device;
  ++order_count_;
  return device;
}

bool VirtualBus::unplug(VirtualDevice& device) {
  if (!device.plugged) return false;
  device.plugged = false;
  ++device.generation;
  int at = 0;
  while (at < order_count_ && order_[at] != &device) ++at;
  for (int i = at; i + 1 < order_count_; ++i) order_[i] = order_[i + 1];
  if (at < order_count_) --order_count_;
  while (device.reads != nullptr) complete(*device.reads, IoState::kFailed, 0);
  changed.notify_all();
  return true;
}

bool VirtualBus::replug(VirtualDevice& device) {
  if (device.plugged || order_count_ == kMaxDevices) return false;
  device.plugged = true;
  device.model.restart();
  order_[order_count_++] = &device;
  return true;
}

void VirtualBus::reset() {
  // Unplugging completes every outstanding transfer, so no transfer record
  // points at a device once it is freed.
  for (int i = 0; i < device_total_; ++i) {
    unplug(*devices_[i]);
    devices_[i].reset();
  }
  first_id_ += device_total_;
  device_total_ = 0;
  order_count_ = 0;
  manual_clock_ = false;
  origin_seconds = kDefaultOriginSeconds;
  origin_tick = 0;
  trace_clear();
  debug_clear();
  changed.notify_all();
}

VirtualDevice* VirtualBus::by_id(std::int32_t id) {
  if (id < first_id_ || id - first_id_ >= device_total_) return nullptr;
  return devices_[id - first_id_].get();
}

Handle VirtualBus::file_handle(const VirtualDevice& device) const {
  return (static_cast<Handle>(device.id) << 32) | (device.generation << 1);
}

Handle VirtualBus::usb_handle(const VirtualDevice& device) const {
  return file_handle(device) | 1;
}

VirtualDevice* VirtualBus::by_handle(Handle handle) {
  if (handle == kNoHandle) return nullptr;
  VirtualDevice* device = by_id(static_cast<std::int32_t>(handle >> 32));
  if (device == nullptr || !device->plugged) return nullptr;
  if (static_cast<std::uint32_t>(handle >> 1 & 0x7FFFFFFF) != device->generation) return nullptr;
  return device;
}

void VirtualBus::complete(SimIo& io, IoState status, std::uint32_t count) {
  unlink(io);
  io.status = status;
  io.count = count;
  io.signalled = true;
  changed.notify_all();
}

void VirtualBus::unlink(SimIo& io) {
  if (!io.outstanding) return;
  for (SimIo** link = &io.device->reads; *link != nullptr; link = &(*link)->next) {
    if (*link == &io) {
      *link = io.next;
      break;
    }
  }
  io.outstanding = false;
  io.next = nullptr;
}

void VirtualBus::pump(VirtualDevice& device) {
  // Each outstanding read, oldest first per pipe, takes what its pipe has.
  bool progressed = true;
  while (progressed) {
    progressed = false;
    for (SimIo* io = device.reads; io != nullptr; io = io->next) {
      // Only the oldest read of each pipe may take data.
      bool oldest = true;
      for (SimIo* before = device.reads; before != io; before = before->next) {
        if (before->pipe == io->pipe) oldest = false;
      }
      if (!oldest || !device.model.readable(io->pipe)) continue;
      const std::uint32_t n = device.model.read(io->pipe, io->buffer, io->length);
      trace(device, io->pipe, io->buffer, n);
      complete(*io, IoState::kDone, n);
      progressed = true;
      break;
    }
  }
}

std::uint64_t VirtualBus::read_clock() {
  if (!manual_clock_) advance(1);
  return now_ms_;
}

void VirtualBus::advance(std::uint64_t milliseconds) {
  now_ms_ += milliseconds;
  for (int i = 0; i < order_count_; ++i) {
    order_[i]->model.advance_time(now_ms_);
    if (order_[i]->reads != nullptr) pump(*order_[i]);
  }
  run_restarts();
  changed.notify_all();
}

void VirtualBus::run_restarts() {
  for (int i = 0; i < device_total_; ++i) {
    VirtualDevice& device = *devices_[i];
    UpdateState& update = device.model.update();
    if (!update.restart_pending) continue;
    if (!update.away && now_ms_ >= update.vanish_at_ms) {
      update.away = true;
      unplug(device);
    }
    if (update.away && now_ms_ >= update.back_at_ms) {
      update.restart_pending = false;
      update.away = false;
      replug(device);
    }
  }
}

void VirtualBus::trace(const VirtualDevice& device, std::uint8_t pipe, const std::uint8_t* data,
                       std::uint32_t length) {
  const bool stream = (pipe & 0x7F) == 0x03;
  std::uint32_t stored = stream && length > 64 ? 64 : length;
  if (stored > kTraceBytes / 2) stored = kTraceBytes / 2;
  if (trace_count_ == kTraceEntries) {
    trace_first_ = (trace_first_ + 1) % kTraceEntries;
    --trace_count_;
  }
  TraceEntry& entry = trace_[(trace_first_ + trace_count_) % kTraceEntries];
  entry = TraceEntry{device.id, pipe, length, stored, trace_written_};
  for (std::uint32_t i = 0; i < stored; ++i) {
    trace_bytes_[(trace_written_ + i) % kTraceBytes] = data[i];
  }
  trace_written_ += stored;
  ++trace_count_;
  // Entries whose bytes were overwritten leave the trace.
  while (trace_count_ > 0 && trace_[trace_first_].start + kTraceBytes < trace_written_) {
    trace_first_ = (trace_first_ + 1) % kTraceEntries;
    --trace_count_;
  }
}

std::int32_t VirtualBus::trace_get(std::uint32_t index, std::int32_t* device, std::uint8_t* pipe,
                                   std::uint32_t* length, std::uint8_t* data,
                                   std::uint32_t capacity) const {
  if (index >= trace_count_) return -1;
  const TraceEntry& entry = trace_[(trace_first_ + index) % kTraceEntries];
  *device = entry.device;
  *pipe = entry.pipe;
  *length = entry.length;
  const std::uint32_t n = entry.stored < capacity ? entry.stored : capacity;
  for (std::uint32_t i = 0; i < n && data != nullptr; ++i) {
    data[i] = trace_bytes_[(entry.start + i) % kTraceBytes];
  }
  return static_cast<std::int32_t>(entry.stored);
}

void VirtualBus::debug_text(const char* text) {
  if (debug_count_ == kDebugTexts) {
    debug_first_ = (debug_first_ + 1) % kDebugTexts;
    --debug_count_;
  }
  char* slot = debug_[(debug_first_ + debug_count_) % kDebugTexts];
  std::snprintf(slot, sizeof debug_[0], "%s", text);
  ++debug_count_;
}

const char* VirtualBus::debug_get(std::uint32_t index) const {
  if (index >= debug_count_) return nullptr;
  return debug_[(debug_first_ + index) % kDebugTexts];
}

}  // namespace maltor::sim
