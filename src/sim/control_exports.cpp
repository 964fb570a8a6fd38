// The virtual device's control API (MaltorUSBdrv_sim.h).
#include <cstring>

#include "MaltorUSBdrv_sim.h"
#include "sim/model/can_state.h"
#include "sim/model/device_ids.h"
#include "sim/virtual_bus.h"

using maltor::sim::FaultKind;
using maltor::sim::VirtualBus;
using maltor::sim::VirtualDevice;

namespace {

bool known_kind(std::uint8_t kind) {
  return kind == MALTOR_SIM_FOREIGN || maltor::sim::usb_identity(kind) != nullptr;
}

bool known_speed(std::uint32_t speed) {
  return speed == MALTOR_SIM_FULL_SPEED || speed == MALTOR_SIM_HIGH_SPEED;
}

// Copies `length` bytes of an item into `out`, cut to `capacity`.
int32_t copy_out(const void* item, std::uint32_t length, void* out, std::uint32_t capacity) {
  if (out != nullptr) std::memcpy(out, item, length < capacity ? length : capacity);
  return static_cast<int32_t>(length);
}

// The image kept by a device's update state, or null.
maltor::sim::ImageCapture* image_of(VirtualDevice* device, uint32_t image) {
  if (device == nullptr) return nullptr;
  maltor::sim::UpdateState& update = device->model.update();
  if (image == MALTOR_SIM_IMAGE_FIRMWARE) return &update.firmware;
  if (image == MALTOR_SIM_IMAGE_CONFIGURATION) return &update.configuration;
  maltor::sim::TransferState& transfer = device->model.content().transfer;
  if (image == MALTOR_SIM_IMAGE_REFLASH) return &transfer.reflash.file;
  if (image == MALTOR_SIM_IMAGE_DP_CONFIGURATION) return &transfer.configuration.file;
  return nullptr;
}

}  // namespace

extern "C" {

MALTOR_API int32_t MALTOR_CALL MaltorSim_Plug(uint8_t kind, uint8_t speed, int32_t position) {
  if (!known_kind(kind) || !known_speed(speed)) return -1;
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.plug(kind, speed, position);
  return device == nullptr ? -1 : device->id;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_Unplug(int32_t id) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  return device != nullptr && bus.unplug(*device) ? 0 : -1;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_Replug(int32_t id) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  return device != nullptr && bus.replug(*device) ? 0 : -1;
}

MALTOR_API void MALTOR_CALL MaltorSim_Reset(void) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.reset();
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_SetOption(int32_t id, uint32_t option, uint32_t value) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr) return -1;
  switch (option) {
    case MALTOR_SIM_OPT_ENDPOINT_COUNT:
      device->endpoint_count = static_cast<std::uint8_t>(value);
      return 0;
    case MALTOR_SIM_OPT_HAS_INTERFACE:
      device->has_interface = value != 0;
      return 0;
    case MALTOR_SIM_OPT_OPEN_FAILS:
      device->open_fails = value != 0;
      return 0;
    case MALTOR_SIM_OPT_SPEED:
      if (!known_speed(value)) return -1;
      device->speed = static_cast<std::uint8_t>(value);
      return 0;
    case MALTOR_SIM_OPT_STREAM_RATE:
      device->model.set_stream_rate(value);
      bus.pump(*device);
      return 0;
    case MALTOR_SIM_OPT_LIVE_PERIOD:
      device->model.set_live_period(value);
      return 0;
    case MALTOR_SIM_OPT_HELD_ELSEWHERE:
      device->held_elsewhere = value != 0;
      return 0;
    default:
      return -1;
  }
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_SetIdentity(int32_t id, const char* serial,
                                                     const char* location) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  return device != nullptr && device->set_identity(serial, location) ? 0 : -1;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_InjectFault(int32_t id, uint32_t fault, int32_t command,
                                                     uint32_t nth, uint32_t param) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr) return -1;
  const bool armed = device->model.arm_fault(static_cast<FaultKind>(fault), command, nth, param);
  // A stall that was lifted may let waiting stream reads go on.
  bus.pump(*device);
  return armed ? 0 : -1;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_ClearFaults(int32_t id) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr) return -1;
  device->model.clear_faults();
  bus.pump(*device);
  return 0;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_SetContent(int32_t id, uint32_t item, const void* data,
                                                    uint32_t length) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr || (data == nullptr && length > 0)) return -1;
  maltor::sim::DeviceContent& content = device->model.content();
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  switch (item) {
    case MALTOR_SIM_SERIAL_NUMBER:
      if (length != sizeof content.serial) return -1;
      std::memcpy(content.serial, data, length);
      return 0;
    case MALTOR_SIM_HW_SETTINGS:
      if (length != sizeof content.hw_settings) return -1;
      std::memcpy(content.hw_settings, data, length);
      return 0;
    case MALTOR_SIM_CLOCK:
      if (length != sizeof content.clock) return -1;
      std::memcpy(&content.clock, data, length);
      return 0;
    case MALTOR_SIM_FIRMWARE_TEXT:
      if (length > 13) return -1;
      std::memset(content.firmware_text, 0, sizeof content.firmware_text);
      std::memcpy(content.firmware_text, data, length);
      return 0;
    case MALTOR_SIM_FIRMWARE_VERSION:
      if (length != 5) return -1;
      content.firmware_word = static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
      std::memcpy(content.firmware_bytes, bytes + 2, 3);
      return 0;
    case MALTOR_SIM_CONFIGURATION:
      if (length > sizeof content.configuration) return -1;
      std::memcpy(content.configuration, data, length);
      content.config_size = length;
      content.transfer.read_position = 0;
      return 0;
    case MALTOR_SIM_LOG_FILE_LIMIT:
      if (length != sizeof content.log_file_limit) return -1;
      std::memcpy(&content.log_file_limit, data, length);
      return 0;
    case MALTOR_SIM_LOG_SUM_OFFSET:
      if (length != sizeof content.log_sum_offset) return -1;
      std::memcpy(&content.log_sum_offset, data, length);
      return 0;
    default:
      return -1;
  }
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_GetContent(int32_t id, uint32_t item, void* out,
                                                    uint32_t capacity) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr) return -1;
  const maltor::sim::DeviceContent& content = device->model.content();
  switch (item) {
    case MALTOR_SIM_SERIAL_NUMBER:
      return copy_out(content.serial, sizeof content.serial, out, capacity);
    case MALTOR_SIM_HW_SETTINGS:
      return copy_out(content.hw_settings, sizeof content.hw_settings, out, capacity);
    case MALTOR_SIM_CLOCK:
      return copy_out(&content.clock, sizeof content.clock, out, capacity);
    case MALTOR_SIM_FIRMWARE_TEXT:
      return copy_out(content.firmware_text, std::strlen(content.firmware_text), out, capacity);
    case MALTOR_SIM_CONFIGURATION:
      return copy_out(content.configuration, content.config_size, out, capacity);
    case MALTOR_SIM_STREAM_DATA:
      return copy_out(content.stream_out, content.stream_out_length, out, capacity);
    case MALTOR_SIM_LOG_FILE_LIMIT:
      return copy_out(&content.log_file_limit, sizeof content.log_file_limit, out, capacity);
    case MALTOR_SIM_LOG_SUM_OFFSET:
      return copy_out(&content.log_sum_offset, sizeof content.log_sum_offset, out, capacity);
    case MALTOR_SIM_FIRMWARE_VERSION: {
      const std::uint8_t version[5] = {static_cast<std::uint8_t>(content.firmware_word),
                                       static_cast<std::uint8_t>(content.firmware_word >> 8),
                                       content.firmware_bytes[0], content.firmware_bytes[1],
                                       content.firmware_bytes[2]};
      return copy_out(version, sizeof version, out, capacity);
    }
    default:
      return -1;
  }
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_SendLiveData(int32_t id, const uint8_t* bytes,
                                                      uint32_t length) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr || bytes == nullptr) return -1;
  if (!device->model.queue_live_packet(bytes, length)) return -1;
  bus.pump(*device);  // a read already waiting takes it now
  return 0;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_ImageInfo(int32_t id, uint32_t image,
                                                   MaltorSimImageInfo* info) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  const maltor::sim::ImageCapture* capture = image_of(bus.by_id(id), image);
  if (capture == nullptr || info == nullptr) return -1;
  *info =
      MaltorSimImageInfo{capture->announced,  capture->received, capture->blocks, capture->finished,
                         capture->reconnects, capture->errors,   capture->hash};
  return 0;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_ImageGet(int32_t id, uint32_t image, void* out,
                                                  uint32_t capacity) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  const maltor::sim::ImageCapture* capture = image_of(bus.by_id(id), image);
  if (capture == nullptr) return -1;
  const std::uint32_t kept = capture->received < maltor::sim::ImageCapture::kKeptBytes
                                 ? capture->received
                                 : maltor::sim::ImageCapture::kKeptBytes;
  return copy_out(capture->kept, kept, out, capacity);
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_UpdateFault(int32_t id, uint32_t frame, uint32_t nth,
                                                     uint32_t action) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr) return -1;
  return device->model.update().arm(static_cast<maltor::sim::UpdateFrame>(frame), nth,
                                    static_cast<maltor::sim::UpdateAction>(action))
             ? 0
             : -1;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_SetRestartTime(int32_t id, uint32_t milliseconds) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr) return -1;
  device->model.update().restart_ms = milliseconds;
  return 0;
}

MALTOR_API uint32_t MALTOR_CALL MaltorSim_TraceCount(void) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  return bus.trace_count();
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_TraceGet(uint32_t index, MaltorSimTraceEntry* entry,
                                                  uint8_t* data, uint32_t capacity) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  MaltorSimTraceEntry found{};
  const int32_t stored =
      bus.trace_get(index, &found.device, &found.pipe, &found.length, data, capacity);
  if (stored < 0) return -1;
  found.direction = (found.pipe & 0x80) ? MALTOR_SIM_IN : MALTOR_SIM_OUT;
  found.stored = static_cast<uint32_t>(stored);
  if (entry != nullptr) *entry = found;
  return stored;
}

MALTOR_API void MALTOR_CALL MaltorSim_TraceClear(void) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.trace_clear();
}

MALTOR_API uint32_t MALTOR_CALL MaltorSim_DebugCount(void) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  return bus.debug_count();
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_DebugGet(uint32_t index, char* out, uint32_t capacity) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  const char* text = bus.debug_get(index);
  if (text == nullptr) return -1;
  const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(text));
  if (out != nullptr && capacity > 0) {
    const std::uint32_t n = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(out, text, n);
    out[n] = '\0';
  }
  return static_cast<int32_t>(length);
}

MALTOR_API void MALTOR_CALL MaltorSim_DebugClear(void) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.debug_clear();
}

MALTOR_API void MALTOR_CALL MaltorSim_ClockMode(uint32_t mode) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.manual_clock_ = mode == MALTOR_SIM_CLOCK_MANUAL;
  bus.changed.notify_all();
}

MALTOR_API void MALTOR_CALL MaltorSim_ClockAdvance(uint32_t milliseconds) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.advance(milliseconds);
}

MALTOR_API uint64_t MALTOR_CALL MaltorSim_ClockNow(void) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  return bus.now_ms();
}

MALTOR_API uint32_t MALTOR_CALL MaltorSim_ClockWaiters(void) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  return bus.clock_waiters();
}

MALTOR_API void MALTOR_CALL MaltorSim_ClockSetOrigin(int64_t unix_seconds, uint32_t tick) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.origin_seconds = unix_seconds;
  bus.origin_tick = tick - static_cast<std::uint32_t>(bus.now_ms());
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_CanDeliver(int32_t id, uint8_t bus_number, uint32_t can_id,
                                                    const uint8_t* data, uint8_t length) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr || length > maltor::sim::kCanMaxData || (data == nullptr && length > 0)) {
    return -1;
  }
  maltor::sim::CanState& can = device->model.content().can;
  maltor::sim::CanBus* target = can.bus(bus_number);
  if (target == nullptr) return -1;
  maltor::sim::CanFrame frame;
  frame.length = length;
  frame.identifier = can_id;
  if (length > 0) std::memcpy(frame.data, data, length);
  frame.returned_word = can.stamp();
  return target->push(frame) ? 0 : -1;
}

MALTOR_API int32_t MALTOR_CALL MaltorSim_CanRxMode(int32_t id, uint32_t mode, uint16_t count) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  VirtualDevice* device = bus.by_id(id);
  if (device == nullptr || mode > MALTOR_SIM_CAN_RX_COUNT) return -1;
  maltor::sim::CanState& can = device->model.content().can;
  can.rx_mode = static_cast<maltor::sim::CanRxMode>(mode);
  can.forced_count = count;
  return 0;
}

}  // extern "C"
