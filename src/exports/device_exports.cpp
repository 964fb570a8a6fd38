// The device's identity, versions, clock, settings and EEPROM, and the
// version text of a firmware image file.
#include "MaltorUSBdrv.h"
#include "device/clock.h"
#include "device/eeprom.h"
#include "device/identity.h"
#include "device/image_version.h"
#include "device/settings.h"
#include "device/version_frames.h"
#include "exports/call_barrier.h"

using maltor::exports::guarded;
namespace device = maltor::device;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCGetFirmwareVersion(uint16_t* version_word, uint8_t* version_1,
                                                    uint8_t* version_2, uint8_t* version_3) {
  return guarded(
      [&] { return device::get_firmware_version(version_word, version_1, version_2, version_3); });
}

MALTOR_API uint8_t MALTOR_CALL GetFirmwareVersion(char* text) {
  return guarded([&] { return device::get_firmware_version_text(text); });
}

MALTOR_API uint8_t MALTOR_CALL SCGetSerialNumber(uint8_t* block) {
  return guarded([&] { return device::get_serial_number(block); });
}

MALTOR_API uint8_t MALTOR_CALL SCSetSerialNumber(uint8_t n, const uint8_t* data) {
  return guarded([&] { return device::set_serial_number(n, data); });
}

MALTOR_API uint8_t MALTOR_CALL GetMicroType(uint8_t* type) {
  return guarded([&] { return device::get_micro_type(type); });
}

MALTOR_API uint8_t MALTOR_CALL GetMaltorInfo(uint8_t* info_byte, uint32_t* info_value) {
  return guarded([&] { return device::get_maltor_info(info_byte, info_value); });
}

MALTOR_API uint8_t MALTOR_CALL SCGetMMCInfo(uint8_t* record) {
  return guarded([&] { return device::get_mmc_info(record); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBGetConfigInfo(uint8_t* tag, uint32_t* size) {
  return guarded([&] { return device::get_config_info(tag, size); });
}

MALTOR_API uint8_t MALTOR_CALL GetConfigurationInfo(uint8_t* record) {
  return guarded([&] { return device::get_configuration_record(record); });
}

MALTOR_API uint8_t MALTOR_CALL SCGetDateTime(uint32_t* clock_value) {
  return guarded([&] { return device::get_date_time(clock_value); });
}

MALTOR_API uint32_t MALTOR_CALL GetDateTime(void) {
  return guarded([&] { return device::date_time(); });
}

MALTOR_API uint8_t MALTOR_CALL SCSetDateTime(uint32_t clock_value) {
  return guarded([&] { return device::set_date_time(clock_value); });
}

MALTOR_API uint8_t MALTOR_CALL SCGetHWSettings(uint8_t* block) {
  return guarded([&] { return device::get_hw_settings(block); });
}

MALTOR_API uint8_t MALTOR_CALL SCSetHWSettings(uint8_t selector_1, uint8_t selector_2, uint8_t n,
                                               const uint8_t* data) {
  return guarded([&] { return device::set_hw_settings(selector_1, selector_2, n, data); });
}

MALTOR_API uint8_t MALTOR_CALL GetSingleHWSetting(uint16_t number, uint16_t* value) {
  return guarded([&] { return device::get_single_hw_setting(number, value); });
}

MALTOR_API uint8_t MALTOR_CALL SetSingleHWSetting(uint16_t number, uint16_t value) {
  return guarded([&] { return device::set_single_hw_setting(number, value); });
}

MALTOR_API uint8_t MALTOR_CALL GetEEPROMPageFormat(uint8_t page, uint8_t* image) {
  return guarded([&] { return device::get_eeprom_page_format(page, image); });
}

MALTOR_API uint8_t MALTOR_CALL StoreEEPROMHWSettings(uint8_t selector_1, uint8_t selector_2) {
  return guarded([&] { return device::store_eeprom_hw_settings(selector_1, selector_2); });
}

MALTOR_API uint8_t MALTOR_CALL GetFileNameFirmwareVersion(const char* path, char* text) {
  return guarded([&] { return device::image_firmware_version(path, text); }, 0);
}

}  // extern "C"
