// The card's log counts, whole card and per partition, and its current sector.
#pragma once

#include <cstdint>

namespace maltor::storage {

// SCSDLogCount, SCPartitionLogCount, SCSDCurrentSector: kOk, kBadArgument
// (null output, nothing sent), kExchangeFailed, kNoDevice or kUpdateRunning.
std::uint8_t get_sd_log_count(std::uint16_t* count);
std::uint8_t get_partition_log_count(std::uint8_t partition, std::uint16_t* count);
std::uint8_t get_sd_current_sector(std::uint32_t* sector);

// GetLogCount, GetPartitionLogCount: the count, or 0 when it cannot be read.
std::uint16_t sd_log_count();
std::uint16_t partition_log_count(std::uint8_t partition);

}  // namespace maltor::storage
