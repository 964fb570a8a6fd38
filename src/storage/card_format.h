// Formatting the whole card, and laying out and formatting its partitions.
#pragma once

#include <cstdint>

namespace maltor::storage {

// SCSDFormat and SCPartitionFormat: kOk with the device's format reply word
// in `format_reply`, kBadArgument (null output or partitions, nothing sent),
// kExchangeFailed, kNoDevice or kUpdateRunning.
std::uint8_t format_card(std::uint16_t parameter, std::uint16_t* format_reply);
std::uint8_t format_partitions(std::uint16_t parameter, std::uint8_t n,
                               const std::uint8_t* partitions, std::uint16_t* format_reply);

}  // namespace maltor::storage
