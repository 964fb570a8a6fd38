// Download of one log file of a log-section device over the command pipes:
// Mirel request, the file's bytes in reads of one block, then the device's
// sum checked against the bytes received.
#pragma once

#include <cstdint>

namespace maltor::storage {

// The file's bytes are read in blocks of this many bytes, then the remainder.
inline constexpr std::uint32_t kLogFileBlock = 16384;
// Write timeout of both Mirel frames of the download.
inline constexpr std::uint32_t kLogFileTimeoutMs = 5000;

// Asks for `length` bytes of the log file of `section` and writes them to
// `path` in text mode (LF as CR LF). Returns kOk, kBadPath (null path,
// nothing sent), kExchangeFailed (a transfer moved nothing, or the file came
// short), kNoDevice, kLogSumMismatch, kLogOpenFailed or the device's status.
std::uint8_t get_first_log_file(std::uint32_t section, std::uint32_t length, const char* path);

}  // namespace maltor::storage
