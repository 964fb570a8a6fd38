#include "sim/model/update_state.h"

#include <cstring>

namespace maltor::sim {

namespace {

// The device answers its reply before it goes away.
constexpr std::uint64_t kVanishDelayMs = 10;

}  // namespace

void ImageCapture::restart(std::uint32_t announced_size) {
  open = true;
  announced = announced_size;
  received = 0;
  blocks = 0;
  hash = kHashStart;
}

void ImageCapture::append(const std::uint8_t* bytes, std::uint32_t n) {
  for (std::uint32_t i = 0; i < n; ++i) {
    if (received + i < kKeptBytes) kept[received + i] = bytes[i];
    hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  }
  received += n;
  ++blocks;
}

bool UpdateState::arm(UpdateFrame frame, std::uint32_t nth, UpdateAction action) {
  const auto value = static_cast<std::uint32_t>(frame);
  if (value < 1 || value > 7 || nth == 0) return false;
  if (action != UpdateAction::kRefuse && action != UpdateAction::kSilent) return false;
  for (Armed& fault : faults_) {
    if (fault.action != UpdateAction::kNone) continue;
    fault = Armed{frame, nth - 1, action};
    return true;
  }
  return false;
}

void UpdateState::clear_faults() {
  for (Armed& fault : faults_) fault = Armed{};
}

UpdateAction UpdateState::take(UpdateFrame frame) {
  UpdateAction due = UpdateAction::kNone;
  for (Armed& fault : faults_) {
    if (fault.action == UpdateAction::kNone || fault.frame != frame) continue;
    if (fault.countdown > 0) {
      --fault.countdown;
    } else if (due == UpdateAction::kNone) {
      due = fault.action;
      fault = Armed{};
    }
  }
  return due;
}

void UpdateState::schedule_restart(std::uint64_t now_ms) {
  if (restart_ms == 0) return;
  restart_pending = true;
  away = false;
  vanish_at_ms = now_ms + kVanishDelayMs;
  back_at_ms = vanish_at_ms + restart_ms;
}

}  // namespace maltor::sim
