// Host clocks on Windows: the C runtime's 64-bit clocks for the wall clock,
// the system tick count for milliseconds.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: the runtime headers below are used alongside it.
#include <sys/timeb.h>
#include <time.h>

#include <cstring>

#include "platform/clock.h"

namespace maltor::platform {

std::uint32_t tick_ms() {
  return GetTickCount();
}

std::int64_t now_seconds() {
  return _time64(nullptr);
}

void now_seconds_ms(std::int64_t* seconds, std::uint16_t* milliseconds) {
  struct __timeb64 now {};
  _ftime64(&now);
  *seconds = now.time;
  *milliseconds = now.millitm;
}

std::int64_t now_microseconds() {
  // FILETIME counts 100 ns steps since 1601; 11,644,473,600 s lie before 1970.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return ticks / 10 - 11'644'473'600'000'000;
}

void local_time_text(std::int64_t seconds, char (&out)[26]) {
  const __time64_t value = seconds;
  struct tm parts {};
  // Out of the runtime's range (before 1970 or after 3000) there is no text.
  if (_localtime64_s(&parts, &value) != 0) {
    out[0] = '\0';
    return;
  }
  format_ctime(parts.tm_wday, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min,
               parts.tm_sec, parts.tm_year + 1900, out);
}

void sleep_ms(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace maltor::platform
