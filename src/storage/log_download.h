// Download of a sector range into a file over the stream IN pipe, and the
// stop that another thread uses to end it early.
#pragma once

#include <cstdint>

namespace maltor::storage {

inline constexpr std::uint32_t kSectorSize = 512;
// The stream is read in chunks of at most this many bytes.
inline constexpr std::uint32_t kChunkSize = 32768;
// Bound on every stream read of a download (see log_download.cpp).
inline constexpr std::uint32_t kStreamReadTimeoutMs = 1000;
// Empty reads in a row after which a download counts as stalled.
inline constexpr std::uint32_t kStallReads = 10;

// Asks the device for sectors `first` to `last` and writes the stream into
// `path`. Returns kOk, kExchangeFailed (request failed or stream stalled),
// kNoDevice, kUpdateRunning or kBadArgument (null path, nothing sent). The
// stream is read without the exchange lock, so other threads' exchanges and
// stop_send_data go on meanwhile.
std::uint8_t request_send_data(const char* path, std::uint32_t first, std::uint32_t last);
// Tells the device to stop, clears the download flag and releases a blocked
// stream read. For a second thread while request_send_data runs: a stop
// whose exchange follows the request's always ends the download. Returns
// kOk, kExchangeFailed, kNoDevice or kUpdateRunning.
std::uint8_t stop_send_data();

// The download flag: 1 while a download may go on, 0 once a stop was asked
// for. Read and written under a lock of its own.
std::uint8_t download_flag();
void set_download_flag(std::uint8_t value);

}  // namespace maltor::storage
