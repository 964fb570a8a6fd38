// The calling thread's error detail: what a result code cannot say (the OS
// error, how many bytes got through, a sentence naming the file or device).
// Device operations clear it on entry and set it where something went wrong;
// MaltorGetLastError copies it out. Each thread has its own, the update
// thread included.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"

namespace maltor::platform {
class File;
}

namespace maltor::detail {

enum Kind : std::uint8_t {
  kNone = MALTOR_DETAIL_NONE,
  kFile = MALTOR_DETAIL_FILE,
  kDevice = MALTOR_DETAIL_DEVICE,
  kUsb = MALTOR_DETAIL_USB,
  kArgument = MALTOR_DETAIL_ARGUMENT,
  kBusy = MALTOR_DETAIL_BUSY,
  kLimit = MALTOR_DETAIL_LIMIT,
  // The library itself could not go on (no memory, no thread): a limit of
  // the host rather than of the device; the sentence says which.
  kInternal = MALTOR_DETAIL_LIMIT,
};

// The calling thread's detail record.
MaltorErrorDetail& current();

// Copies the calling thread's detail into `out` (when not null) and returns
// its kind.
std::uint8_t copy_current(MaltorErrorDetail* out);

// Empties the calling thread's detail (kind none, no text).
void clear();

// Sets the calling thread's detail: result, kind, OS error and byte counts,
// and a sentence formatted printf-style (cut to fit, always terminated).
// Returns `result`, so a failure path can be `return detail::set(...)`.
std::uint8_t set(std::uint8_t result, Kind kind, std::int32_t os_error, std::uint64_t bytes_done,
                 std::uint64_t bytes_expected, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 6, 7)))
#endif
    ;

// What was being done to a file when it failed.
enum class FileStep : std::uint8_t { kOpenForReading, kOpenForWriting, kRead, kWrite, kClose };

// Sets a kFile detail for `file`'s last failure at `step`, with its OS error
// and a sentence naming `path` ("wrote 102,400 of 1,048,576 bytes to
// out.bin: File too large"). Returns `result`.
std::uint8_t file_failure(std::uint8_t result, FileStep step, const platform::File& file,
                          const char* path, std::uint64_t bytes_done, std::uint64_t bytes_expected);

// Makes `result` the detail's result when something set a detail, so the
// detail names what the call returned rather than what a transfer noted on
// the way. Returns `result`.
std::uint8_t settle(std::uint8_t result);

// Sets a kArgument detail for an argument refused before anything was sent.
// Returns `result`.
std::uint8_t refused_argument(std::uint8_t result);

// Sets a kDevice detail: slot 0 holds no open device. Returns kNoDevice.
std::uint8_t no_device();

// Writes `value` with a comma between groups of three digits.
void group_digits(std::uint64_t value, char (&out)[32]);

}  // namespace maltor::detail
