#include <chrono>

#include "platform/clock.h"
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
  return wait_event(*this, timeout_ms);
}

bool Event::is_set() {
  std::lock_guard lock(mutex_);
  return signalled_;
}

bool Event::take() {
  std::lock_guard lock(mutex_);
  if (!signalled_) return false;
  if (!manual_reset_) signalled_ = false;
  return true;
}

bool Event::wait_real(std::uint32_t timeout_ms) {
  std::unique_lock lock(mutex_);
  const bool came =
      changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [this] { return signalled_; });
  if (came && !manual_reset_) signalled_ = false;
  return came;
}

}  // namespace maltor::platform
