// The ctime text written by hand: the C library's own follows the locale on
// some systems (strftime's %a and %b) and its buffer length on none, while
// the logs want the same English text everywhere.
#include <cstdio>
#include <cstring>

#include "platform/clock.h"

namespace maltor::platform {

namespace {

int wrapped(int value, int range) {
  const int rest = value % range;
  return rest < 0 ? rest + range : rest;
}

}  // namespace

void format_ctime(int weekday, int month, int day, int hour, int minute, int second, int year,
                  char (&out)[26]) {
  static constexpr const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %4d\n", kDays[wrapped(weekday, 7)],
                kMonths[wrapped(month - 1, 12)], wrapped(day, 100), wrapped(hour, 100),
                wrapped(minute, 100), wrapped(second, 100), wrapped(year, 10000));
  std::memcpy(out, text, sizeof out - 1);
  out[sizeof out - 1] = '\0';
}

}  // namespace maltor::platform
