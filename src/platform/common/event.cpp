#include <chrono>

#include "platform/os.h"

namespace maltor::platform {

void Event::set() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

void Event::reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

bool Event::wait(std::uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  const bool came =
      changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
  if (came && !manual_reset_) signalled_ = false;
  return came;
}

bool Event::is_set() {
  std::lock_guard lock(mutex_);
  return signalled_;
}

}  // namespace maltor::platform
