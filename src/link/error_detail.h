// The calling thread's error detail: what a result code cannot say (the OS
// error, how many bytes got through, a sentence naming the file or device).
// Device operations clear it on entry and set it where something went wrong;
// MaltorGetLastError copies it out. Each thread has its own, the update
// thread included.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"

namespace maltor::detail {

enum Kind : std::uint8_t {
  kNone = MALTOR_DETAIL_NONE,
  kFile = MALTOR_DETAIL_FILE,
  kDevice = MALTOR_DETAIL_DEVICE,
  kUsb = MALTOR_DETAIL_USB,
  kArgument = MALTOR_DETAIL_ARGUMENT,
  kBusy = MALTOR_DETAIL_BUSY,
  kLimit = MALTOR_DETAIL_LIMIT,
};

// The calling thread's detail record.
MaltorErrorDetail& current();

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

}  // namespace maltor::detail
