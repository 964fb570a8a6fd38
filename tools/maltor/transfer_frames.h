// The frames of a data-processor file transfer (reflash image or
// configuration file): a start frame, data frames and an end frame.
#pragma once

#include <cstdint>

namespace maltor::tool {

// The reflash image is always this long; a shorter file is sent zero-filled.
inline constexpr std::uint32_t kReflashImageBytes = 524288;

// Data bytes a frame carries: 490 on a high-speed link, 42 on a full-speed one.
std::uint32_t transfer_chunk_limit(bool high_speed);

// The data frames for `length` bytes: `chunk_limit` bytes while more than
// chunk_limit + 1 remain, then the rest in one frame (so the last may carry
// one byte more than the limit).
std::uint64_t transfer_data_frames(std::uint64_t length, std::uint32_t chunk_limit);

// The data frames plus the start and end frames.
inline std::uint64_t transfer_frames(std::uint64_t length, std::uint32_t chunk_limit) {
  return transfer_data_frames(length, chunk_limit) + 2;
}

}  // namespace maltor::tool
