// Live data: start and stop of the device's live records, and the reading of
// one 512-byte record per call from the stream IN pipe.
#pragma once

#include <cstdint>

namespace maltor::live {

// Tells the device to start live data (command 0x19). kOk, kExchangeFailed or
// kNoDevice.
std::uint8_t start_live_data(std::uint8_t parameter);
// Tells the device to stop (command 0x1A), then drains the stream IN pipe for
// one to two seconds. kOk, kExchangeFailed or kNoDevice.
std::uint8_t stop_live_data(std::uint8_t parameter);
// Fills `destination` (512 bytes) with one live record. kOk, kExchangeFailed
// (no record this time), kNoDevice or kBadArgument (null destination).
std::uint8_t get_live_data(std::uint8_t* destination);

// Drain passes run while the clock is below the stop's time plus this.
inline constexpr std::int64_t kDrainSeconds = 2;
// A read that completed short is polled until the clock is past its start
// plus this.
inline constexpr std::int64_t kShortReadSeconds = 2;

}  // namespace maltor::live
