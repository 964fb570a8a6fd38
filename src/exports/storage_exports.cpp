// The card's catalogue, formatting and log info, sector downloads, and the
// log-section (Mirel) queries and log file.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "storage/card_format.h"
#include "storage/catalogue.h"
#include "storage/log_download.h"
#include "storage/log_info.h"
#include "storage/mirel_log_file.h"
#include "storage/mirel_queries.h"

using maltor::exports::guarded;
namespace storage = maltor::storage;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCSDLogCount(uint16_t* count) {
  return guarded([&] { return storage::get_sd_log_count(count); });
}

MALTOR_API uint16_t MALTOR_CALL GetLogCount(void) {
  return guarded([&] { return storage::sd_log_count(); });
}

MALTOR_API uint8_t MALTOR_CALL SCPartitionLogCount(uint8_t partition, uint16_t* count) {
  return guarded([&] { return storage::get_partition_log_count(partition, count); });
}

MALTOR_API uint16_t MALTOR_CALL GetPartitionLogCount(uint8_t partition) {
  return guarded([&] { return storage::partition_log_count(partition); });
}

MALTOR_API uint8_t MALTOR_CALL SCSDCurrentSector(uint32_t* sector) {
  return guarded([&] { return storage::get_sd_current_sector(sector); });
}

MALTOR_API uint8_t MALTOR_CALL SCSDFormat(uint16_t parameter, uint16_t* format_reply) {
  return guarded([&] { return storage::format_card(parameter, format_reply); });
}

MALTOR_API uint8_t MALTOR_CALL SCPartitionFormat(uint16_t parameter, uint8_t n,
                                                 const uint8_t* partitions,
                                                 uint16_t* format_reply) {
  return guarded(
      [&] { return storage::format_partitions(parameter, n, partitions, format_reply); });
}

MALTOR_API uint8_t MALTOR_CALL SCSDLogInfo(uint16_t index, uint32_t* w1, uint32_t* w2, uint32_t* w3,
                                           uint32_t* w4, uint32_t* w5, uint32_t* w6, uint32_t* w7,
                                           uint8_t* block_16, uint8_t* block_255,
                                           uint8_t* trailing) {
  return guarded([&] {
    return storage::get_sd_log_info(index, w1, w2, w3, w4, w5, w6, w7, block_16, block_255,
                                    trailing);
  });
}

MALTOR_API uint8_t MALTOR_CALL SCPartitionLogInfo(uint8_t partition, uint16_t index, uint32_t* w1,
                                                  uint32_t* w2, uint32_t* w3, uint32_t* w4,
                                                  uint32_t* w5, uint32_t* w6, uint32_t* w7,
                                                  uint8_t* block_16, uint8_t* block_255,
                                                  uint8_t* trailing) {
  return guarded([&] {
    return storage::get_partition_log_info(partition, index, w1, w2, w3, w4, w5, w6, w7, block_16,
                                           block_255, trailing);
  });
}

MALTOR_API uint8_t MALTOR_CALL SCSDRequestSendData(const char* path, uint32_t start_sector,
                                                   uint32_t end_sector) {
  return guarded([&] { return storage::request_send_data(path, start_sector, end_sector); });
}

MALTOR_API uint8_t MALTOR_CALL SCSDStopSendData(void) {
  return guarded([&] { return storage::stop_send_data(); });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetLogCount(uint16_t* first_count, uint16_t* second_count) {
  return guarded([&] { return storage::get_mirel_log_count(first_count, second_count); });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetFirstLogSection(uint32_t* word_1, uint32_t* word_2) {
  return guarded([&] { return storage::get_mirel_first_log_section(word_1, word_2); });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetActiveLogSection(uint32_t* word_1, uint32_t* word_2,
                                                        uint32_t* word_3, uint32_t* word_4) {
  return guarded(
      [&] { return storage::get_mirel_active_log_section(word_1, word_2, word_3, word_4); });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetDescriptorInfo(uint32_t index, uint8_t* record) {
  return guarded([&] { return storage::get_mirel_descriptor_info(index, record); });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetFirstLogFile(uint32_t section, uint32_t length,
                                                    const char* path) {
  return guarded([&] { return storage::get_first_log_file(section, length, path); });
}

}  // extern "C"
