#include "platform/sim/model/device_model.h"

#include "platform/sim/model/command_handlers.h"

namespace maltor::sim {

DeviceModel::DeviceModel(std::uint8_t kind) : kind_(kind) {}

bool DeviceModel::arm_fault(FaultKind kind, std::int32_t command, std::uint32_t nth,
                            std::uint32_t param) {
  if (kind == FaultKind::kStreamStall) {
    stall_after_ = stream_sent_ + param;
    return true;
  }
  if (kind == FaultKind::kNone || kind > FaultKind::kUnplugOnRead) return false;
  for (Fault& fault : faults_) {
    if (fault.kind != FaultKind::kNone) continue;
    fault = Fault{kind, command, nth == 0 ? 0 : nth - 1, param};
    return true;
  }
  return false;
}

void DeviceModel::clear_faults() {
  for (Fault& fault : faults_) fault = Fault{};
  stall_after_ = ~std::uint64_t{0};
}

Fault* DeviceModel::matching_fault(std::int32_t command) {
  for (Fault& fault : faults_) {
    if (fault.kind == FaultKind::kNone) continue;
    if (fault.command != -1 && fault.command != command) continue;
    if (fault.countdown > 0) {
      --fault.countdown;
      continue;
    }
    return &fault;
  }
  return nullptr;
}

bool DeviceModel::write(std::uint8_t pipe, const std::uint8_t* data, std::uint32_t length) {
  if (pipe == kStreamOut) {
    content_.stream_out_total += length;
    std::uint32_t keep = length < sizeof content_.stream_out ? length : sizeof content_.stream_out;
    for (std::uint32_t i = 0; i < keep; ++i) content_.stream_out[i] = data[length - keep + i];
    content_.stream_out_length = keep;
    return true;
  }
  if (pipe != kCommandOut) return false;

  // The command code of a standard frame is byte 3; other layouts match faults
  // armed for any command.
  const std::int32_t code = length >= 4 ? data[3] : -1;
  firing_ = matching_fault(code);
  if (firing_ != nullptr && firing_->kind == FaultKind::kWriteFails) {
    *firing_ = Fault{};
    firing_ = nullptr;
    return false;
  }
  if (firing_ != nullptr && firing_->kind == FaultKind::kUnplugOnRead) {
    *firing_ = Fault{};
    firing_ = nullptr;
    vanish_requested_ = true;
    return true;
  }
  CommandHandlers::dispatch(*this, data, length);
  if (firing_ != nullptr) *firing_ = Fault{};
  firing_ = nullptr;
  return true;
}

void DeviceModel::send_reply(std::uint8_t* reply, std::uint32_t length) {
  if (firing_ != nullptr) {
    switch (firing_->kind) {
      case FaultKind::kNoReply:
        return;
      case FaultKind::kShortReply:
        if (firing_->param >= 1 && firing_->param < length) length = firing_->param;
        break;
      case FaultKind::kWrongSequence:
        reply[0] = static_cast<std::uint8_t>(reply[0] + 1);
        break;
      case FaultKind::kWrongEcho:
        if (length > 3) reply[3] = static_cast<std::uint8_t>(reply[3] + 1);
        break;
      case FaultKind::kStatus:
        if (length > 5) reply[5] = static_cast<std::uint8_t>(firing_->param);
        if (length > 4) reply[4] = static_cast<std::uint8_t>(firing_->param);
        break;
      default:
        break;
    }
  }
  replies_.push(reply, length);
}

bool DeviceModel::readable(std::uint8_t pipe) const {
  if (pipe == kCommandIn) return !replies_.empty();
  if (pipe != kStreamIn) return false;
  if (live_running_ && live_ready_ > 0) return true;
  return stream_remaining_ > 0 && stream_sent_ < stall_after_;
}

std::uint32_t DeviceModel::read(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t capacity) {
  if (pipe == kCommandIn) return replies_.pop(buffer, capacity);
  if (pipe != kStreamIn || !readable(pipe)) return 0;
  if (live_running_ && live_ready_ > 0) {
    const std::uint32_t n = capacity < 512 ? capacity : 512;
    for (std::uint32_t i = 0; i < n; ++i) {
      buffer[i] = static_cast<std::uint8_t>(live_counter_ + i);
    }
    --live_ready_;
    ++live_counter_;
    return n;
  }
  std::uint64_t n = capacity;
  if (n > stream_remaining_) n = stream_remaining_;
  if (stream_sent_ + n > stall_after_) n = stall_after_ - stream_sent_;
  for (std::uint64_t i = 0; i < n; ++i) buffer[i] = DeviceContent::card_byte(stream_offset_ + i);
  stream_offset_ += n;
  stream_remaining_ -= n;
  stream_sent_ += n;
  return static_cast<std::uint32_t>(n);
}

void DeviceModel::advance_time(std::uint64_t now_ms) {
  if (now_ms <= now_ms_) return;
  // The device clock counts seconds.
  content_.clock += static_cast<std::uint32_t>(now_ms / 1000 - now_ms_ / 1000);
  now_ms_ = now_ms;
  // Live records come every 10 ms while live data runs (at most 64 queued).
  while (live_running_ && live_next_ms_ <= now_ms_) {
    if (live_ready_ < 64) ++live_ready_;
    live_next_ms_ += 10;
  }
}

void DeviceModel::start_stream(std::uint64_t offset, std::uint64_t bytes) {
  stream_offset_ = offset;
  stream_remaining_ = bytes;
}

void DeviceModel::set_live(bool on) {
  live_running_ = on;
  live_ready_ = 0;
  live_next_ms_ = now_ms_ + 10;
}

bool DeviceModel::take_vanish_request() {
  const bool requested = vanish_requested_;
  vanish_requested_ = false;
  return requested;
}

}  // namespace maltor::sim
