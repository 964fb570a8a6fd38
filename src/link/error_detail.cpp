#include "link/error_detail.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace maltor::detail {

namespace {
thread_local MaltorErrorDetail t_detail{};
}  // namespace

MaltorErrorDetail& current() {
  return t_detail;
}

void clear() {
  t_detail.result = 0;
  t_detail.kind = kNone;
  t_detail.os_error = 0;
  t_detail.bytes_done = 0;
  t_detail.bytes_expected = 0;
  t_detail.text[0] = '\0';
}

std::uint8_t set(std::uint8_t result, Kind kind, std::int32_t os_error, std::uint64_t bytes_done,
                 std::uint64_t bytes_expected, const char* format, ...) {
  t_detail.result = result;
  t_detail.kind = kind;
  t_detail.os_error = os_error;
  t_detail.bytes_done = bytes_done;
  t_detail.bytes_expected = bytes_expected;
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(t_detail.text, sizeof t_detail.text, format, args);
  va_end(args);
  if (n < 0) t_detail.text[0] = '\0';
  return result;
}

}  // namespace maltor::detail
