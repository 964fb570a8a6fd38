// Clocks, sleeping and debug output of the virtual device's build: all time
// is the virtual bus's clock, and debug texts are captured for inspection.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "platform/os.h"
#include "sim/virtual_bus.h"

namespace maltor::platform {

using sim::VirtualBus;

std::uint32_t tick_ms() {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  return static_cast<std::uint32_t>(bus.origin_tick + bus.read_clock());
}

std::int64_t now_seconds() {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  return bus.origin_seconds + static_cast<std::int64_t>(bus.read_clock() / 1000);
}

void now_seconds_ms(std::int64_t* seconds, std::uint16_t* milliseconds) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  const std::uint64_t now = bus.read_clock();
  *seconds = bus.origin_seconds + static_cast<std::int64_t>(now / 1000);
  *milliseconds = static_cast<std::uint16_t>(now % 1000);
}

std::int64_t now_microseconds() {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  const std::uint64_t now = bus.now_ms();  // read without moving the clock
  return (bus.origin_seconds * 1000 + static_cast<std::int64_t>(now)) * 1000;
}

// Virtual time is shown as UTC so that texts are the same on every host.
void local_time_text(std::int64_t seconds, char (&out)[26]) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  std::int64_t days = seconds / 86400;
  std::int64_t rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  const int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const int year = static_cast<int>((yoe + era * 400 + (month <= 2 ? 1 : 0)) % 10000);
  format_ctime(weekday, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
               static_cast<int>(rest % 60), year, out);
}

void sleep_ms(std::uint32_t milliseconds) {
  VirtualBus& bus = VirtualBus::get();
  std::unique_lock held(bus.lock);
  const std::uint64_t deadline = bus.now_ms() + milliseconds;
  bus.wait_until(held, deadline, [&] { return bus.now_ms() >= deadline; });
}

bool wait_event(Event& event, std::uint32_t timeout_ms) {
  VirtualBus& bus = VirtualBus::get();
  std::unique_lock held(bus.lock);
  const std::uint64_t deadline = bus.now_ms() + timeout_ms;
  for (;;) {
    if (event.take()) return true;
    if (bus.now_ms() >= deadline) return false;
    if (!bus.manual_clock_) {
      bus.advance(deadline - bus.now_ms());
      return event.take();
    }
    // Event::set does not wake the bus, so a manual-mode wait looks again
    // after a real millisecond or when the clock moves.
    bus.changed.wait_for(held, std::chrono::milliseconds(1));
  }
}

void debug_output(const char* text) {
  VirtualBus& bus = VirtualBus::get();
  std::lock_guard held(bus.lock);
  bus.debug_text(text);
}

}  // namespace maltor::platform
