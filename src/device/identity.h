// Identity and version queries over the standard command frame.
#pragma once

#include <cstdint>

namespace maltor::device {

// Each returns kOk, kBadArgument (a null output or data, nothing sent),
// kExchangeFailed, kNoDevice or kUpdateRunning; outputs stay untouched on
// any failure.
std::uint8_t get_firmware_version(std::uint16_t* version_word, std::uint8_t* version_1,
                                  std::uint8_t* version_2, std::uint8_t* version_3);
std::uint8_t get_serial_number(std::uint8_t* block);
std::uint8_t set_serial_number(std::uint8_t n, const std::uint8_t* data);
std::uint8_t get_micro_type(std::uint8_t* type);
std::uint8_t get_maltor_info(std::uint8_t* info_byte, std::uint32_t* info_value);
std::uint8_t get_mmc_info(std::uint8_t* record);
std::uint8_t get_config_info(std::uint8_t* tag, std::uint32_t* size);

}  // namespace maltor::device
