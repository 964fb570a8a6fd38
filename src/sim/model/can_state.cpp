#include "sim/model/can_state.h"

namespace maltor::sim {

bool CanBus::push(const CanFrame& frame) {
  if (count_ == kCanQueueDepth) return false;
  queue_[(head_ + count_) % kCanQueueDepth] = frame;
  ++count_;
  return true;
}

bool CanBus::pop(CanFrame* frame) {
  if (count_ == 0) return false;
  *frame = queue_[head_];
  head_ = (head_ + 1) % kCanQueueDepth;
  --count_;
  return true;
}

}  // namespace maltor::sim
