// One log info record of the whole card or of one partition.
#pragma once

#include <cstdint>

namespace maltor::storage {

// SCSDLogInfo and SCPartitionLogInfo: seven words, a 16-byte and a 255-byte
// block and a trailing byte. kOk, kBadArgument (any null output, nothing
// sent), kExchangeFailed, kNoDevice or kUpdateRunning.
std::uint8_t get_sd_log_info(std::uint16_t index, std::uint32_t* w1, std::uint32_t* w2,
                             std::uint32_t* w3, std::uint32_t* w4, std::uint32_t* w5,
                             std::uint32_t* w6, std::uint32_t* w7, std::uint8_t* block_16,
                             std::uint8_t* block_255, std::uint8_t* trailing);
std::uint8_t get_partition_log_info(std::uint8_t partition, std::uint16_t index, std::uint32_t* w1,
                                    std::uint32_t* w2, std::uint32_t* w3, std::uint32_t* w4,
                                    std::uint32_t* w5, std::uint32_t* w6, std::uint32_t* w7,
                                    std::uint8_t* block_16, std::uint8_t* block_255,
                                    std::uint8_t* trailing);

}  // namespace maltor::storage
