#include "device_clock.h"

#include <chrono>
#include <cstdio>

#include "cli.h"
#include "errors.h"

namespace maltor::tool {

namespace {

namespace chr = std::chrono;

constexpr std::int64_t kLastClockValue = 0xFFFFFFFF;

// Reads exactly `width` decimal digits at `at`; -1 when they are not digits.
int digits_at(std::string_view text, std::size_t at, std::size_t width) {
  if (at + width > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + width; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// "YYYY-MM-DDTHH:MM:SS" with an optional Z; false when the text has another shape.
bool parse_date_time(std::string_view text, std::int64_t& unix_seconds) {
  if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) text.remove_suffix(1);
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != 't' && text[10] != ' ') || text[13] != ':' ||
      text[16] != ':') {
    return false;
  }
  const int year = digits_at(text, 0, 4), month = digits_at(text, 5, 2),
            day = digits_at(text, 8, 2), hour = digits_at(text, 11, 2),
            minute = digits_at(text, 14, 2), second = digits_at(text, 17, 2);
  if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return false;
  const chr::year_month_day date{chr::year(year), chr::month(static_cast<unsigned>(month)),
                                 chr::day(static_cast<unsigned>(day))};
  // No leap seconds: Unix time does not count them.
  if (!date.ok() || hour > 23 || minute > 59 || second > 59) return false;
  unix_seconds = chr::sys_days(date).time_since_epoch().count() * 86400LL + hour * 3600LL +
                 minute * 60LL + second;
  return true;
}

}  // namespace

std::uint32_t clock_value_from_unix(std::int64_t unix_seconds) {
  if (unix_seconds < 0 || unix_seconds > kLastClockValue) {
    throw usage_error("the time " + std::to_string(unix_seconds) +
                      " s since 1970 does not fit the device clock (1970 to 2106)");
  }
  return static_cast<std::uint32_t>(unix_seconds);
}

std::string iso8601_utc(std::int64_t unix_microseconds) {
  const chr::sys_time<chr::microseconds> time{chr::microseconds(unix_microseconds)};
  const chr::sys_days day = chr::floor<chr::days>(time);
  const chr::year_month_day date{day};
  const chr::hh_mm_ss clock{time - day};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  std::string out = text;
  if (const auto micro = clock.subseconds().count(); micro != 0) {
    std::snprintf(text, sizeof text, ".%06lld", static_cast<long long>(micro));
    out += text;
  }
  return out + "Z";
}

std::string format_clock_value(std::uint32_t value) {
  std::string text = iso8601_utc(std::int64_t{value} * 1000000);
  text[10] = ' ';
  text.back() = ' ';
  return text + "UTC";
}

std::uint32_t parse_clock_value(std::string_view text) {
  if (text.find('-') != std::string_view::npos) {
    std::int64_t unix_seconds = 0;
    if (!parse_date_time(text, unix_seconds)) {
      throw usage_error(
          "clock value: expected a number or a UTC time like 2024-10-04T14:47:28, "
          "got '" +
          std::string(text) + "'");
    }
    return clock_value_from_unix(unix_seconds);
  }
  return static_cast<std::uint32_t>(parse_number(text, 0xFFFFFFFF, "clock value"));
}

}  // namespace maltor::tool
