#include "link/error_detail.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/result.h"
#include "platform/os.h"

namespace maltor::detail {

namespace {
thread_local MaltorErrorDetail t_detail{};
}  // namespace

MaltorErrorDetail& current() {
  return t_detail;
}

std::uint8_t copy_current(MaltorErrorDetail* out) {
  if (out != nullptr) std::memcpy(out, &t_detail, sizeof t_detail);
  return t_detail.kind;
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

void group_digits(std::uint64_t value, char (&out)[32]) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::size_t at = 0;
  for (int i = n - 1; i >= 0; --i) {
    out[at++] = digits[i];
    if (i > 0 && i % 3 == 0) out[at++] = ',';
  }
  out[at] = '\0';
}

std::uint8_t file_failure(std::uint8_t result, FileStep step, const platform::File& file,
                          const char* path, std::uint64_t bytes_done,
                          std::uint64_t bytes_expected) {
  const std::int32_t error = file.error();
  char reason[128] = "unknown error";
  if (error != 0) platform::os_error_text(error, reason, sizeof reason);
  char done[32];
  char expected[32];
  group_digits(bytes_done, done);
  group_digits(bytes_expected, expected);
  const char* name = path != nullptr ? path : "(null)";
  switch (step) {
    case FileStep::kOpenForReading:
      if (file.not_regular()) {
        return set(result, kFile, 0, 0, bytes_expected, "cannot read %s: not a regular file", name);
      }
      return set(result, kFile, error, 0, bytes_expected, "cannot open %s for reading: %s", name,
                 reason);
    case FileStep::kOpenForWriting:
      return set(result, kFile, error, 0, bytes_expected, "cannot open %s for writing: %s", name,
                 reason);
    case FileStep::kRead:
      if (error == 0) std::snprintf(reason, sizeof reason, "the file ended early");
      return set(result, kFile, error, bytes_done, bytes_expected,
                 "read %s of %s bytes from %s: %s", done, expected, name, reason);
    case FileStep::kWrite:
      return set(result, kFile, error, bytes_done, bytes_expected, "wrote %s of %s bytes to %s: %s",
                 done, expected, name, reason);
    case FileStep::kClose:
      return set(result, kFile, error, bytes_done, bytes_expected,
                 "wrote %s of %s bytes to %s, then closing it failed: %s", done, expected, name,
                 reason);
  }
  return result;
}

std::uint8_t settle(std::uint8_t result) {
  if (t_detail.kind != kNone) t_detail.result = result;
  return result;
}

std::uint8_t refused_argument(std::uint8_t result) {
  return set(result, kArgument, 0, 0, 0,
             "an argument is null, empty or out of range; nothing was sent");
}

std::uint8_t no_device() {
  return set(kNoDevice, kDevice, 0, 0, 0, "no device is open; nothing was sent");
}

}  // namespace maltor::detail
