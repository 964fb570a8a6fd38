#include "sim/model/device_model.h"

#include <algorithm>
#include <cstring>

#include "sim/model/command_handlers.h"

namespace maltor::sim {

DeviceModel::DeviceModel(std::uint8_t kind) : kind_(kind) {}

bool DeviceModel::arm_fault(FaultKind kind, std::int32_t command, std::uint32_t nth,
                            std::uint32_t param) {
  if (kind == FaultKind::kStreamStall) {
    stall_after_ = stream_sent_ + param;
    return true;
  }
  if (kind == FaultKind::kNone || kind > FaultKind::kBadChecksum) return false;
  for (Fault& fault : faults_) {
    if (fault.kind != FaultKind::kNone) continue;
    fault = Fault{kind, command, nth == 0 ? 0 : nth - 1, param};
    return true;
  }
  return false;
}

void DeviceModel::clear_faults() {
  update_.clear_faults();
  for (Fault& fault : faults_) fault = Fault{};
  stall_after_ = ~std::uint64_t{0};
}

// A stall that held back bytes of a stream has done its work once that
// stream ends (stopped, replaced or reset): it clears itself, as every fault
// does after firing.
void DeviceModel::end_stall_if_hit() {
  if (stream_remaining_ > 0 && stream_sent_ >= stall_after_) stall_after_ = ~std::uint64_t{0};
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
  // A new frame ends a log file still being sent.
  stop_log_file();
  CommandHandlers::dispatch(*this, data, length);
  if (firing_ != nullptr) *firing_ = Fault{};
  firing_ = nullptr;
  return true;
}

bool DeviceModel::send_reply(std::uint8_t* reply, std::uint32_t length) {
  if (script_length_ - script_at_ >= 2) {
    std::uint32_t n = script_[script_at_] | (script_[script_at_ + 1] << 8);
    script_at_ += 2;
    n = std::min({n, script_length_ - script_at_, kReplyCapacity});
    replies_.push(script_ + script_at_, n);
    script_at_ += n;
    return true;
  }
  if (firing_ != nullptr) {
    switch (firing_->kind) {
      case FaultKind::kNoReply:
        return false;
      case FaultKind::kShortReply:
        if (firing_->param >= 1 && firing_->param < length) length = firing_->param;
        break;
      case FaultKind::kWrongSequence:
        reply[0] = static_cast<std::uint8_t>(reply[0] + 1);
        break;
      case FaultKind::kWrongEcho:
        if (length > 3) reply[3] = static_cast<std::uint8_t>(reply[3] + 1);
        break;
      case FaultKind::kBadChecksum:
        reply[length - 1] = static_cast<std::uint8_t>(reply[length - 1] + 1);
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
  return true;
}

bool DeviceModel::readable(std::uint8_t pipe) const {
  if (pipe == kCommandIn) return !replies_.empty() || log_remaining_ > 0;
  if (pipe != kStreamIn) return false;
  if (packet_count_ > 0) return true;
  if (live_running_ && live_ready_ > 0) return true;
  if (stream_rate_ != 0 && stream_budget_ == 0) return false;
  return stream_remaining_ > 0 && stream_sent_ < stall_after_;
}

namespace {

// The card's sectors are the bytes 0..255, 0..255 XORed with one key per
// sector (DeviceContent::card_byte); a table of all 256 keyed sectors lets a
// stream read copy rather than compute byte by byte.
struct SectorPatterns {
  SectorPatterns() {
    for (std::uint32_t key = 0; key < 256; ++key) {
      for (std::uint32_t i = 0; i < 512; ++i) bytes[key][i] = static_cast<std::uint8_t>(i ^ key);
    }
  }
  std::uint8_t bytes[256][512];
};

void fill_card(std::uint64_t offset, std::uint8_t* out, std::uint64_t n) {
  static const SectorPatterns patterns;
  while (n > 0) {
    const std::uint64_t sector = offset / 512;
    const std::uint32_t within = static_cast<std::uint32_t>(offset % 512);
    const std::uint64_t take = n < 512 - within ? n : 512 - within;
    const auto key = static_cast<std::uint8_t>((sector * 7) ^ (sector >> 8));
    std::memcpy(out, patterns.bytes[key] + within, take);
    out += take;
    offset += take;
    n -= take;
  }
}

}  // namespace

std::uint32_t DeviceModel::read(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t capacity) {
  if (pipe == kCommandIn) {
    if (!replies_.empty()) return replies_.pop(buffer, capacity);
    const std::uint32_t n = capacity < log_remaining_ ? capacity : log_remaining_;
    for (std::uint32_t i = 0; i < n; ++i) {
      buffer[i] = DeviceContent::log_file_byte(log_section_, log_offset_ + i);
      log_sum_ = static_cast<std::uint16_t>(log_sum_ + buffer[i]);
    }
    log_offset_ += n;
    log_remaining_ -= n;
    return n;
  }
  if (pipe != kStreamIn || !readable(pipe)) return 0;
  if (packet_count_ > 0) {
    const LivePacket& packet = packets_[packet_head_];
    const std::uint32_t n = capacity < packet.length ? capacity : packet.length;
    std::memcpy(buffer, packet.bytes, n);
    packet_head_ = (packet_head_ + 1) % kLivePackets;
    --packet_count_;
    return n;
  }
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
  if (stream_rate_ != 0 && n > stream_budget_) n = stream_budget_;
  fill_card(stream_offset_, buffer, n);
  stream_offset_ += n;
  stream_remaining_ -= n;
  stream_sent_ += n;
  if (stream_rate_ != 0) stream_budget_ -= n;
  return static_cast<std::uint32_t>(n);
}

void DeviceModel::advance_time(std::uint64_t now_ms) {
  if (now_ms <= now_ms_) return;
  // The device clock counts seconds.
  content_.clock += static_cast<std::uint32_t>(now_ms / 1000 - now_ms_ / 1000);
  // A paced stream may send what the elapsed time allows, up to one second's
  // worth when nobody reads.
  if (stream_rate_ != 0 && stream_remaining_ > 0) {
    const std::uint64_t cap = std::uint64_t{stream_rate_} * 1000;
    stream_budget_ += std::uint64_t{stream_rate_} * (now_ms - now_ms_);
    if (stream_budget_ > cap) stream_budget_ = cap;
  }
  now_ms_ = now_ms;
  // Live records come every live period while live data runs (at most 64 queued).
  while (live_running_ && live_period_ms_ != 0 && live_next_ms_ <= now_ms_) {
    if (live_ready_ < 64) ++live_ready_;
    live_next_ms_ += live_period_ms_;
  }
}

void DeviceModel::start_stream(std::uint64_t offset, std::uint64_t bytes) {
  end_stall_if_hit();
  stream_offset_ = offset;
  stream_remaining_ = bytes;
  stream_budget_ = 0;
}

void DeviceModel::start_log_file(std::uint32_t section, std::uint32_t bytes) {
  log_section_ = section;
  log_offset_ = 0;
  log_remaining_ = bytes;
  log_sum_ = 0;
}

void DeviceModel::stop_stream() {
  stream_remaining_ = 0;
  end_stall_if_hit();
}

void DeviceModel::restart() {
  end_stall_if_hit();
  replies_.clear();
  log_remaining_ = 0;
  stream_remaining_ = 0;
  stream_budget_ = 0;
  set_live(false);
  packet_head_ = packet_count_ = 0;
}

void DeviceModel::set_live(bool on) {
  live_running_ = on;
  live_ready_ = 0;
  live_next_ms_ = now_ms_ + live_period_ms_;
}

void DeviceModel::set_stream_rate(std::uint32_t bytes_per_ms) {
  stream_rate_ = bytes_per_ms;
  stream_budget_ = 0;
}

void DeviceModel::set_live_period(std::uint32_t milliseconds) {
  live_period_ms_ = milliseconds;
  live_next_ms_ = now_ms_ + milliseconds;
}

bool DeviceModel::queue_live_packet(const std::uint8_t* bytes, std::uint32_t length) {
  if (length == 0 || length > sizeof packets_[0].bytes || packet_count_ == kLivePackets) {
    return false;
  }
  LivePacket& packet = packets_[(packet_head_ + packet_count_) % kLivePackets];
  std::memcpy(packet.bytes, bytes, length);
  packet.length = length;
  ++packet_count_;
  return true;
}

bool DeviceModel::take_vanish_request() {
  const bool requested = vanish_requested_;
  vanish_requested_ = false;
  return requested;
}

}  // namespace maltor::sim
