#include "sector_range.h"

#include <string>

#include "errors.h"

namespace maltor::tool {

std::uint32_t sector_range_bytes(std::uint32_t start, std::uint32_t end) {
  if (end < start) {
    throw usage_error("download: END (" + std::to_string(end) + ") is below START (" +
                      std::to_string(start) + ")");
  }
  const std::uint64_t bytes = (static_cast<std::uint64_t>(end) - start + 1) * kSectorBytes;
  if (bytes > 0xFFFFFFFFu) {
    throw usage_error("download: " + std::to_string(bytes / kSectorBytes) +
                      " sectors are 4 GiB or more; the library counts bytes in 32 bits, so "
                      "download at most 8388607 sectors at a time");
  }
  return static_cast<std::uint32_t>(bytes);
}

}  // namespace maltor::tool
