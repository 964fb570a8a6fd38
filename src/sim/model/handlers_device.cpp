// Identity, version, clock and settings commands of the virtual device.
#include <cstring>

#include "sim/model/command_handlers.h"
#include "sim/model/device_model.h"

namespace maltor::sim {

namespace {

std::uint32_t firmware_version(DeviceModel& m, const Request&, std::uint8_t* data) {
  put16(data, m.content().firmware_word);
  std::memcpy(data + 2, m.content().firmware_bytes, 3);
  std::memset(data + 5, 0, 4);
  return 9;
}

std::uint32_t config_info(DeviceModel& m, const Request&, std::uint8_t* data) {
  std::memcpy(data, m.content().config_tag, 16);
  put32(data + 16, m.content().config_size);
  return 20;
}

std::uint32_t get_date_time(DeviceModel& m, const Request&, std::uint8_t* data) {
  put32(data, m.content().clock);
  return 4;
}

std::uint32_t set_date_time(DeviceModel& m, const Request& r, std::uint8_t*) {
  if (r.payload_length() >= 4) m.content().clock = get32(r.payload());
  return 0;
}

std::uint32_t get_serial(DeviceModel& m, const Request&, std::uint8_t* data) {
  std::memcpy(data, m.content().serial, 128);
  return 128;
}

// The block replaces the serial number; the rest of the 128 bytes is cleared.
std::uint32_t set_serial(DeviceModel& m, const Request& r, std::uint8_t*) {
  if (r.payload_length() < 1) return 0;
  std::uint32_t n = r.payload()[0];
  if (n > r.payload_length() - 1) n = r.payload_length() - 1;
  std::memset(m.content().serial, 0, sizeof m.content().serial);
  std::memcpy(m.content().serial, r.payload() + 1, n < 128 ? n : 128);
  return 0;
}

std::uint32_t mmc_info(DeviceModel& m, const Request&, std::uint8_t* data) {
  std::memcpy(data, m.content().mmc_info, 17);
  return 17;
}

std::uint32_t get_hw_settings(DeviceModel& m, const Request&, std::uint8_t* data) {
  std::memcpy(data, m.content().hw_settings, 128);
  return 128;
}

// The data replace the block from its start; the selector bytes are not
// looked at and bytes past the block's end are dropped.
std::uint32_t set_hw_settings(DeviceModel& m, const Request& r, std::uint8_t*) {
  if (r.payload_length() < 3) return 0;
  std::uint32_t n = r.payload()[2];
  if (n > r.payload_length() - 3) n = r.payload_length() - 3;
  std::memcpy(m.content().hw_settings, r.payload() + 3, n < 128 ? n : 128);
  return 0;
}

// A locked page is answered with a two-byte status reply.
std::uint32_t eeprom_page(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const std::uint8_t page = r.payload_length() >= 1 ? r.payload()[0] : 0;
  if (page >= DeviceContent::kFirstLockedPage) {
    data[0] = DeviceContent::kPageLocked;
    data[1] = page;
    return 2;
  }
  std::memcpy(data, m.content().eeprom[page], 64);
  return 64;
}

// Stores the settings block in the two pages from selector 1 on; a locked
// page refuses.
std::uint32_t store_eeprom(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const std::uint32_t page = r.payload_length() >= 1 ? r.payload()[0] : 0;
  if (page + 1 >= DeviceContent::kFirstLockedPage) {
    data[0] = DeviceContent::kPageLocked;
    return 1;
  }
  std::memcpy(m.content().eeprom[page], m.content().hw_settings, 64);
  std::memcpy(m.content().eeprom[page + 1], m.content().hw_settings + 64, 64);
  data[0] = 0;
  return 1;
}

std::uint32_t maltor_info(DeviceModel& m, const Request&, std::uint8_t* data) {
  data[0] = m.content().info_byte;
  data[1] = m.content().info_value;
  // Further info bytes the library does not read.
  for (int i = 2; i < 11; ++i) data[i] = static_cast<std::uint8_t>(0x30 + i);
  return 11;
}

std::uint32_t get_single_setting(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const std::uint16_t number = r.payload_length() >= 2 ? get16(r.payload()) : 0;
  const std::uint8_t* block = m.content().hw_settings;
  put16(data, number < DeviceContent::kSingleSettings ? get16(block + 2 * number)
                                                      : DeviceContent::kNoSetting);
  return 2;
}

std::uint32_t set_single_setting(DeviceModel& m, const Request& r, std::uint8_t*) {
  if (r.payload_length() < 4) return 0;
  const std::uint16_t number = get16(r.payload());
  if (number < DeviceContent::kSingleSettings) {
    put16(m.content().hw_settings + 2 * number, get16(r.payload() + 2));
  }
  return 0;
}

std::uint32_t micro_type(DeviceModel& m, const Request&, std::uint8_t* data) {
  data[0] = m.content().micro_type;
  return 1;
}

// clang-format off
constexpr HandlerRow kRows[] = {
  {0x02, firmware_version}, {0x0A, config_info},       {0x11, get_date_time},
  {0x12, set_date_time},    {0x15, get_serial},        {0x16, set_serial},
  {0x1B, mmc_info},         {0x21, set_hw_settings},   {0x22, get_hw_settings},
  {0x23, eeprom_page},      {0x24, store_eeprom},      {0x27, maltor_info},
  {0x2C, set_single_setting}, {0x2D, get_single_setting}, {0x2E, micro_type},
};
// clang-format on

}  // namespace

std::span<const HandlerRow> device_rows() {
  return kRows;
}

}  // namespace maltor::sim
