// The log-section queries over the Mirel frame.
#pragma once

#include <cstdint>

namespace maltor::storage {

// MirelGetLogCount, MirelGetFirstLogSection, MirelGetActiveLogSection,
// MirelGetDescriptorInfo: kOk, kBadArgument (a null output, nothing sent),
// kExchangeFailed, kNoDevice, kUpdateRunning or the device's status byte.
std::uint8_t get_mirel_log_count(std::uint16_t* first_count, std::uint16_t* second_count);
std::uint8_t get_mirel_first_log_section(std::uint32_t* word_1, std::uint32_t* word_2);
std::uint8_t get_mirel_active_log_section(std::uint32_t* word_1, std::uint32_t* word_2,
                                          std::uint32_t* word_3, std::uint32_t* word_4);
std::uint8_t get_mirel_descriptor_info(std::uint32_t index, std::uint8_t* record);

}  // namespace maltor::storage
