// Host clocks on Linux and macOS.
#include <time.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/os.h"

namespace maltor::platform {

std::uint32_t tick_ms() {
  const auto since_boot = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since_boot).count());
}

std::int64_t now_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void now_seconds_ms(std::int64_t* seconds, std::uint16_t* milliseconds) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  *seconds = ms / 1000;
  *milliseconds = static_cast<std::uint16_t>(ms % 1000);
}

std::int64_t now_microseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void local_time_text(std::int64_t seconds, char (&out)[26]) {
  const time_t value = static_cast<time_t>(seconds);
  struct tm parts {};
  if (localtime_r(&value, &parts) == nullptr) {
    out[0] = '\0';
    return;
  }
  format_ctime(parts.tm_wday, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
               parts.tm_sec, parts.tm_year + 1900, out);
}

void sleep_ms(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool wait_event(Event& event, std::uint32_t timeout_ms) {
  return event.wait_real(timeout_ms);
}

}  // namespace maltor::platform
