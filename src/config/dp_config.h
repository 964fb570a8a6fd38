// Configuration files to and from the data processor: a file sent with the
// file-transfer exchange, and the device's configuration read back into a
// file with size query and in-order read requests.
#pragma once

#include <cstdint>

namespace maltor::config {

// Bytes one read request asks for, the last one excepted.
inline constexpr std::uint32_t kReadChunk = 200;

// SCReconfigureFile: kOk when every frame was written and every reply read,
// else kTransferFailed; also kTransferFailed, with nothing sent, when the file
// is missing, empty, unreadable or longer than 524,288 bytes. Once the end
// frame was written, *status receives bytes 5-6 of the reply area. Null
// `path` or `status`: kBadArgument, nothing sent.
std::uint8_t send_configuration(const char* path, std::uint16_t* status);

// SCConfigFileData: kNoDevice when no device is open, kBadArgument for a null
// path (nothing sent), else kExchangeFailed, also after a complete download.
// The file at `path` is replaced only once the device reported a size above 0.
std::uint8_t read_configuration(const char* path);

}  // namespace maltor::config
