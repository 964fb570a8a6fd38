#include "transfer_frames.h"

namespace maltor::tool {

std::uint32_t transfer_chunk_limit(bool high_speed) {
  return high_speed ? 490 : 42;
}

std::uint64_t transfer_data_frames(std::uint64_t length, std::uint32_t chunk_limit) {
  if (length == 0 || chunk_limit == 0) return 0;
  const std::uint64_t last_most = std::uint64_t{chunk_limit} + 1;
  if (length <= last_most) return 1;
  // Full frames until at most limit + 1 bytes remain, then the last one.
  return (length - last_most + chunk_limit - 1) / chunk_limit + 1;
}

}  // namespace maltor::tool
