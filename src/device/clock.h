// The device clock: one 32-bit value passed through unchanged.
#pragma once

#include <cstdint>

namespace maltor::device {

// SCGetDateTime: kOk, kBadArgument (null output, nothing sent), kExchangeFailed,
// kNoDevice or kUpdateRunning.
std::uint8_t get_date_time(std::uint32_t* clock_value);
// GetDateTime: the device's clock, or 0 when it cannot be read.
std::uint32_t date_time();
// SCSetDateTime.
std::uint8_t set_date_time(std::uint32_t clock_value);

}  // namespace maltor::device
