// Replies waiting on the command IN pipe, in order, in fixed storage.
#pragma once

#include <cstdint>
#include <cstring>

namespace maltor::sim {

inline constexpr std::uint32_t kReplyCapacity = 32768 + 64;

class ReplyQueue {
 public:
  static constexpr int kSlots = 8;

  bool empty() const { return count_ == 0; }
  void clear() { head_ = count_ = 0; }

  // Adds a reply; the oldest is dropped when the queue is full.
  void push(const std::uint8_t* bytes, std::uint32_t length) {
    if (length > kReplyCapacity) length = kReplyCapacity;
    if (count_ == kSlots) pop_front();
    Slot& slot = slots_[(head_ + count_) % kSlots];
    std::memcpy(slot.bytes, bytes, length);
    slot.length = length;
    ++count_;
  }

  // Moves the oldest reply into `out`, cut to `capacity`; returns its length.
  std::uint32_t pop(std::uint8_t* out, std::uint32_t capacity) {
    if (count_ == 0) return 0;
    const Slot& slot = slots_[head_];
    const std::uint32_t n = slot.length < capacity ? slot.length : capacity;
    std::memcpy(out, slot.bytes, n);
    pop_front();
    return n;
  }

 private:
  struct Slot {
    std::uint32_t length;
    std::uint8_t bytes[kReplyCapacity];
  };
  void pop_front() {
    head_ = (head_ + 1) % kSlots;
    --count_;
  }

  Slot slots_[kSlots];
  int head_ = 0;
  int count_ = 0;
};

}  // namespace maltor::sim
