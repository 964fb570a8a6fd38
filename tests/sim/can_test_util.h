// Helpers shared by the CAN tests.
#pragma once

#include <cstdint>

#include "sim_fixture.h"

namespace maltor::test {

inline std::uint32_t le32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

using CanTest = SimTest;

}  // namespace maltor::test
