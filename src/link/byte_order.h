// Byte order of every multi-byte field the host side reads or writes: frame
// and reply fields, trace blocks, files. Little-endian unless named otherwise;
// the one most-significant-first field (the Mirel log file request) has its
// own pair. Written byte by byte, so the host's own order never matters.
#pragma once

#include <cstdint>

namespace maltor::link {

// The low `size` bytes of `value` (1 to 8), least significant first.
inline void put_le(std::uint8_t* at, std::uint64_t value, unsigned size) {
  for (unsigned i = 0; i < size; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
// `size` bytes (1 to 8), least significant first, widened without sign.
inline std::uint64_t get_le(const std::uint8_t* at, unsigned size) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < size; ++i) value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  return value;
}

inline void put_u16(std::uint8_t* at, std::uint16_t value) {
  put_le(at, value, 2);
}
inline void put_u32(std::uint8_t* at, std::uint32_t value) {
  put_le(at, value, 4);
}
inline void put_u64(std::uint8_t* at, std::uint64_t value) {
  put_le(at, value, 8);
}
inline std::uint16_t get_u16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(get_le(at, 2));
}
inline std::uint32_t get_u32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(get_le(at, 4));
}

inline void put_u32_msb_first(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace maltor::link
