// Process data on and off, and raw stream data to the device.
#pragma once

#include <cstdint>

namespace maltor::live {

// Commands 0x2F and 0x30. kOk, kExchangeFailed or kNoDevice.
std::uint8_t start_process_data();
std::uint8_t stop_process_data();

// Writes `length` bytes as they are on the stream OUT pipe. kOk when the
// write reports success, kExchangeFailed when not, kNoDevice, or kBadArgument
// for null data with a length above 0.
std::uint8_t send_stream_data(const std::uint8_t* data, std::uint32_t length);

}  // namespace maltor::live
