// The byte count of a sector download, checked before the library computes it
// in 32 bits and would wrap.
#pragma once

#include <cstdint>

namespace maltor::tool {

inline constexpr std::uint32_t kSectorBytes = 512;

// (end - start + 1) * 512. Throws ToolError(kExitUsage) when end is below
// start or the range holds 8,388,608 sectors (4 GiB) or more, which the
// library's 32-bit count cannot express.
std::uint32_t sector_range_bytes(std::uint32_t start, std::uint32_t end);

}  // namespace maltor::tool
