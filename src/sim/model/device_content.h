// What a virtual device holds: identity, clock, settings, card and
// configuration. Plain data with plausible defaults; commands read and change it.
#pragma once

#include <cstdint>

#include "sim/model/can_state.h"
#include "sim/model/transfer_state.h"

namespace maltor::sim {

struct DeviceContent {
  DeviceContent();

  // ---- identity ----
  std::uint16_t firmware_word = 0x0203;
  std::uint8_t firmware_bytes[3] = {4, 5, 6};
  // Kind-1 devices show only the first five characters.
  char firmware_text[14] = "02.03_MTR0104";
  std::uint8_t serial[128] = {};
  std::uint8_t micro_type = 0x42;
  std::uint8_t info_byte = 0x11;
  std::uint8_t info_value = 0xF1;
  std::uint8_t mmc_info[17] = {};
  std::uint8_t config_tag[16] = {};
  std::uint32_t config_size = 0;
  std::uint8_t configuration[65536] = {};

  // The 26-byte configuration info record: tag, size, 16-bit sum of the
  // configuration, firmware word, micro type, info byte.
  void config_record(std::uint8_t* out) const;

  // ---- clock and settings ----
  std::uint32_t clock = 0;  // device clock in seconds; advances with the virtual clock
  std::uint8_t hw_settings[128] = {};
  // Single settings 0 to 63 are the 16-bit words of hw_settings; the device
  // ignores writes to others and reads them as kNoSetting.
  static constexpr std::uint16_t kSingleSettings = 64;
  static constexpr std::uint16_t kNoSetting = 0xFFFF;

  // EEPROM pages; those from kFirstLockedPage on are refused with kPageLocked.
  std::uint8_t eeprom[256][64] = {};
  static constexpr int kFirstLockedPage = 0xF0;
  static constexpr std::uint8_t kPageLocked = 3;

  // ---- the card ----
  // Logs follow each other from sector kFirstLogSector, kSectorsPerLog sectors
  // each, partition after partition.
  static constexpr std::uint32_t kFirstLogSector = 2048;
  static constexpr std::uint32_t kSectorsPerLog = 2048;
  static constexpr std::uint32_t kLogSeconds = 3600;
  std::uint32_t card_sectors = 1u << 22;  // 2 GiB card
  std::uint32_t first_log_time = 0;       // device time at which log 0 started
  std::uint8_t partition_count = 3;
  std::uint8_t partition_layout[255] = {50, 30, 20};  // as the host laid them out
  std::uint16_t partition_logs[255] = {2, 1, 0};

  std::uint32_t card_log_count() const;
  // The sector the next log would start at.
  std::uint32_t current_sector() const {
    return kFirstLogSector + card_log_count() * kSectorsPerLog;
  }
  // Writes the 300 data bytes of the info record of card-wide log `index`;
  // all zero when there is no such log.
  void log_info(std::uint32_t index, std::uint8_t* out) const;
  // The card-wide index of log `index` of `partition`, or -1 when there is none.
  std::int64_t partition_log(std::uint32_t partition, std::uint32_t index) const;
  // Empties every partition; the layout stays.
  void format_card();
  // Lays out `count` partitions from `layout` and empties them.
  void format_partitions(std::uint8_t count, const std::uint8_t* layout);

  // ---- log sections ----
  // Logs fill sections two at a time from `first_section`; the active
  // section is the one holding the newest log.
  static constexpr std::uint32_t kSectionBytes = 0x10000;
  static constexpr std::uint32_t kLogsPerSection = 2;
  static constexpr std::uint8_t kNoDescriptor = 2;  // status for an unknown descriptor
  std::uint16_t section_log_count = 6;
  std::uint32_t first_section = 2;
  std::uint32_t section_total = 64;

  std::uint32_t active_section() const;
  std::uint32_t section_log_length(std::uint32_t index) const { return 4096 + 512 * index; }
  // The descriptor record of section log `index` (32 bytes); false when none.
  bool descriptor(std::uint32_t index, std::uint8_t* out) const;
  // Bytes used in the active section.
  std::uint32_t active_section_used() const;

  // ---- log files of the sections ----
  // A log file request names a section below section_total; the device sends
  // the bytes of that section's log file that were asked for, up to
  // log_file_limit (it ends the transfer early when it holds fewer), and the
  // check reports their 16-bit sum plus log_sum_offset.
  static constexpr std::uint8_t kNoSection = 2;  // status for a section the card lacks
  std::uint32_t log_file_limit = 0xFFFFFFFF;
  std::uint16_t log_sum_offset = 0;

  // Byte `offset` of the log file of `section`: text-like lines of 64 bytes,
  // each ending in a line feed, whose other bytes run through every value
  // (line feeds and carriage returns among them).
  static std::uint8_t log_file_byte(std::uint32_t section, std::uint32_t offset) {
    return offset % 64 == 63 ? 0x0A : static_cast<std::uint8_t>(offset + section);
  }

  // ---- CAN ----
  CanState can;

  // ---- file transfers ----
  TransferState transfer;

  // ---- streams ----
  // Stream data written by the host on the stream OUT pipe (latest bytes kept).
  std::uint64_t stream_out_total = 0;
  std::uint32_t stream_out_length = 0;
  std::uint8_t stream_out[4096] = {};

  // Byte `offset` of the card's content: a pattern that a test can recompute.
  static std::uint8_t card_byte(std::uint64_t offset) {
    const std::uint64_t sector = offset / 512;
    return static_cast<std::uint8_t>((offset % 512) ^ (sector * 7) ^ (sector >> 8));
  }
};

}  // namespace maltor::sim
