// Shared pieces of the reflash and data-processor configuration tests: the
// fields of file-transfer frames on the wire.
#pragma once

#include <cstdint>
#include <numeric>
#include <vector>

#include "link/file_transfer.h"
#include "update_test_util.h"

namespace maltor::test {

class TransferTest : public UpdateTest {
 protected:
  static std::uint8_t code_of(const Bytes& frame) { return frame.size() > 3 ? frame[3] : 0; }
  // The `width` bytes from `at`, least significant first.
  static std::uint32_t le(const Bytes& frame, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value |= std::uint32_t{frame.at(at + i)} << (8 * i);
    return value;
  }
  // A data frame's offset (bytes 5-8), length (9-10) and data.
  static std::uint32_t data_offset(const Bytes& frame) { return le(frame, 5, 4); }
  static std::uint32_t data_length(const Bytes& frame) { return le(frame, 9, 2); }
  static Bytes data_bytes(const Bytes& frame) { return {frame.begin() + 11, frame.end() - 1}; }

  static std::uint16_t sum16(const Bytes& bytes) {
    return static_cast<std::uint16_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
  }
  static std::uint8_t sum8(const Bytes& bytes, std::size_t length) {
    return static_cast<std::uint8_t>(std::accumulate(bytes.begin(), bytes.begin() + length, 0u));
  }

  // The command codes of the frames written, in order.
  static std::vector<std::uint8_t> codes_written() {
    std::vector<std::uint8_t> out;
    for (const Bytes& frame : SimTest::frames_written()) out.push_back(code_of(frame));
    return out;
  }
};

}  // namespace maltor::test
