// The two identity queries that use short frames of other layouts: no
// sequence byte, written and read through the raw exchange.
#pragma once

#include <cstdint>

namespace maltor::device {

// GetFirmwareVersion: the firmware version text, 13 characters and a
// terminator (5 and a terminator on kind-1 devices).
std::uint8_t get_firmware_version_text(char* text);
// GetConfigurationInfo: the 26-byte configuration record.
std::uint8_t get_configuration_record(std::uint8_t* record);

}  // namespace maltor::device
