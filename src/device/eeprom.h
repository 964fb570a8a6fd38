// EEPROM page reads and stores: the two commands whose answer can be the
// device's status byte.
#pragma once

#include <cstdint>

namespace maltor::device {

// GetEEPROMPageFormat: copies the page's 64-byte image into `image`; returns
// the device's status byte when it refused the page.
std::uint8_t get_eeprom_page_format(std::uint8_t page, std::uint8_t* image);
// StoreEEPROMHWSettings: the device's status byte once the exchange succeeded.
std::uint8_t store_eeprom_hw_settings(std::uint8_t selector_1, std::uint8_t selector_2);

}  // namespace maltor::device
