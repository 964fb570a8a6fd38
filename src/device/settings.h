// Hardware settings: the whole block, a block write, and single settings.
#pragma once

#include <cstdint>

namespace maltor::device {

// Each returns kOk, kBadArgument (a null output or data, nothing sent),
// kExchangeFailed, kNoDevice or kUpdateRunning.
std::uint8_t get_hw_settings(std::uint8_t* block);
std::uint8_t set_hw_settings(std::uint8_t selector_1, std::uint8_t selector_2, std::uint8_t n,
                             const std::uint8_t* data);
std::uint8_t get_single_hw_setting(std::uint16_t number, std::uint16_t* value);
std::uint8_t set_single_hw_setting(std::uint16_t number, std::uint16_t value);

}  // namespace maltor::device
