// Helpers shared by the CAN tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim_fixture.h"

namespace maltor::test {

using Bytes = std::vector<std::uint8_t>;

// Virtual milliseconds that `call` takes.
template <typename Call>
std::uint64_t can_virtual_ms(Call&& call) {
  const std::uint64_t start = MaltorSim_ClockNow();
  call();
  return MaltorSim_ClockNow() - start;
}

// A standard frame: sequence byte, length, code, 0, payload, sum.
inline Bytes standard_frame(std::uint8_t sequence, std::uint8_t code, const Bytes& payload) {
  const std::size_t length = payload.size() + 6;
  Bytes frame(length);
  frame[0] = sequence;
  frame[1] = static_cast<std::uint8_t>(length);
  frame[2] = static_cast<std::uint8_t>(length >> 8);
  frame[3] = code;
  std::copy(payload.begin(), payload.end(), frame.begin() + 5);
  std::uint8_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; ++i) sum = static_cast<std::uint8_t>(sum + frame[i]);
  frame[length - 1] = sum;
  return frame;
}

inline std::uint32_t le32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

class CanTest : public SimTest {
 protected:
  // The replies read on the command IN pipe, in order.
  static std::vector<Bytes> replies_read() {
    std::vector<Bytes> out;
    for (const Transfer& t : trace()) {
      if (t.pipe == 0x82) out.push_back(t.bytes);
    }
    return out;
  }
};

}  // namespace maltor::test
