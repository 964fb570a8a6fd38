#include "sim/model/device_content.h"

#include <cstdio>
#include <cstring>

namespace maltor::sim {

namespace {

void put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
void put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

DeviceContent::DeviceContent() {
  std::memcpy(serial, "MALTOR-SIM-000001", 17);
  for (int i = 0; i < 128; ++i) hw_settings[i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 17; ++i) mmc_info[i] = static_cast<std::uint8_t>(0xA0 + i);
  std::memcpy(config_tag, "CFG-MALTOR-0001", 15);
  for (int page = 0; page < 256; ++page) {
    for (int i = 0; i < 64; ++i) eeprom[page][i] = static_cast<std::uint8_t>(page ^ i);
  }
  clock = 0x6700'0000;
  first_log_time = clock - 10 * kLogSeconds;
}

void DeviceContent::config_record(std::uint8_t* out) const {
  std::memcpy(out, config_tag, 16);
  put32(out + 16, config_size);
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < config_size; ++i) sum += configuration[i];
  put16(out + 20, sum);
  put16(out + 22, firmware_word);
  out[24] = micro_type;
  out[25] = info_byte;
}

std::uint32_t DeviceContent::card_log_count() const {
  std::uint32_t total = 0;
  for (int p = 0; p < partition_count; ++p) total += partition_logs[p];
  return total;
}

void DeviceContent::log_info(std::uint32_t index, std::uint8_t* out) const {
  std::memset(out, 0, 300);
  if (index >= card_log_count()) return;
  std::uint32_t partition = 0;
  std::uint32_t in_partition = index;
  while (in_partition >= partition_logs[partition]) in_partition -= partition_logs[partition++];
  const std::uint32_t first = kFirstLogSector + index * kSectorsPerLog;
  put32(out + 0, index);
  put32(out + 4, first);
  put32(out + 8, first + kSectorsPerLog - 1);
  put32(out + 12, kSectorsPerLog * 512);
  put32(out + 16, partition);
  put32(out + 20, first_log_time + index * kLogSeconds);
  put32(out + 24, kLogSeconds);
  std::snprintf(reinterpret_cast<char*>(out + 28), 16, "LOG-P%u-%04u", partition, in_partition);
  std::snprintf(reinterpret_cast<char*>(out + 44), 255, "virtual log %u of partition %u", index,
                partition);
  out[299] = 1;  // closed
}

std::int64_t DeviceContent::partition_log(std::uint32_t partition, std::uint32_t index) const {
  if (partition >= partition_count || index >= partition_logs[partition]) return -1;
  std::uint32_t before = 0;
  for (std::uint32_t p = 0; p < partition; ++p) before += partition_logs[p];
  return before + index;
}

void DeviceContent::format_card() {
  for (std::uint16_t& logs : partition_logs) logs = 0;
}

void DeviceContent::format_partitions(std::uint8_t count, const std::uint8_t* layout) {
  partition_count = count;
  std::memset(partition_layout, 0, sizeof partition_layout);
  std::memcpy(partition_layout, layout, count);
  format_card();
}

std::uint32_t DeviceContent::active_section() const {
  if (section_log_count == 0) return first_section;
  return first_section + (section_log_count - 1) / kLogsPerSection;
}

bool DeviceContent::descriptor(std::uint32_t index, std::uint8_t* out) const {
  std::memset(out, 0, 32);
  if (index >= section_log_count) return false;
  put32(out + 0, index);
  put32(out + 4, first_section + index / kLogsPerSection);
  put32(out + 8, (index % kLogsPerSection) * (kSectionBytes / kLogsPerSection));
  put32(out + 12, section_log_length(index));
  put32(out + 16, first_log_time + index * kLogSeconds);
  std::snprintf(reinterpret_cast<char*>(out + 20), 12, "SECLOG-%04u", index % 10000);
  return true;
}

std::uint32_t DeviceContent::active_section_used() const {
  if (section_log_count == 0) return 0;
  const std::uint32_t last = section_log_count - 1u;
  return (last % kLogsPerSection) * (kSectionBytes / kLogsPerSection) + section_log_length(last);
}

}  // namespace maltor::sim
