// What a virtual device holds: identity, clock, settings, card and
// configuration. Plain data with plausible defaults; commands read and change it.
#pragma once

#include <cstdint>

namespace maltor::sim {

struct DeviceContent {
  DeviceContent();

  std::uint16_t firmware_word = 0x0203;
  std::uint8_t firmware_bytes[3] = {4, 5, 6};
  char firmware_text[14] = "MTR2.03_01.04";
  std::uint8_t serial[128] = {};
  std::uint8_t hw_settings[128] = {};
  std::uint32_t clock = 0;  // device clock value; advances with the virtual clock
  std::uint8_t micro_type = 0x42;
  std::uint8_t info_byte = 0x11;
  std::uint8_t info_value = 0x22;
  std::uint8_t mmc_info[17] = {};
  std::uint8_t config_tag[16] = {};
  std::uint32_t config_size = 0;
  std::uint8_t configuration[65536] = {};
  std::uint8_t eeprom[256][64] = {};
  std::uint16_t single_settings[256] = {};

  // Stream data written by the host on the stream OUT pipe (latest bytes kept).
  std::uint64_t stream_out_total = 0;
  std::uint32_t stream_out_length = 0;
  std::uint8_t stream_out[4096] = {};

  // The card: `log_count` logs of `sectors_per_log` sectors each.
  std::uint32_t card_sectors = 1u << 22;  // 2 GiB card
  std::uint32_t log_count = 3;
  std::uint32_t current_sector = 6144;

  // Byte `offset` of the card's content: a pattern that a test can recompute.
  static std::uint8_t card_byte(std::uint64_t offset) {
    const std::uint64_t sector = offset / 512;
    return static_cast<std::uint8_t>((offset % 512) ^ (sector * 7) ^ (sector >> 8));
  }
};

}  // namespace maltor::sim
