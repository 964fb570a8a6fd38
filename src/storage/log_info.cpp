#include "storage/log_info.h"

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::storage {

namespace {

using link::any_null;
using link::bytes_at;
using link::CommandId;
using link::Exchange;
using link::put_u16;
using link::u32_at;

// Word outputs 1–7 in argument order: the fifth wire word (bytes 21–24) goes
// to the seventh output, the sixth and seventh wire words to the fifth and
// sixth outputs.
// clang-format off
constexpr link::ReplyDecode kLogInfo{10, {
    u32_at(5), u32_at(9), u32_at(13), u32_at(17), u32_at(25), u32_at(29), u32_at(21),
    bytes_at(33, 16), bytes_at(49, 255), link::u8_at(304)}};
// clang-format on

std::uint8_t run_log_info(Exchange& exchange, std::uint32_t* w1, std::uint32_t* w2,
                          std::uint32_t* w3, std::uint32_t* w4, std::uint32_t* w5,
                          std::uint32_t* w6, std::uint32_t* w7, std::uint8_t* block_16,
                          std::uint8_t* block_255, std::uint8_t* trailing) {
  return link::run_and_copy<kLogInfo>(exchange, w1, w2, w3, w4, w5, w6, w7, block_16, block_255,
                                      trailing);
}

}  // namespace

std::uint8_t get_sd_log_info(std::uint16_t index, std::uint32_t* w1, std::uint32_t* w2,
                             std::uint32_t* w3, std::uint32_t* w4, std::uint32_t* w5,
                             std::uint32_t* w6, std::uint32_t* w7, std::uint8_t* block_16,
                             std::uint8_t* block_255, std::uint8_t* trailing) {
  if (any_null(w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing))
    return detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kSdLogInfo);
  if (!exchange.ready()) return exchange.refusal();
  put_u16(exchange.payload(), index);
  return run_log_info(exchange, w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing);
}

std::uint8_t get_partition_log_info(std::uint8_t partition, std::uint16_t index, std::uint32_t* w1,
                                    std::uint32_t* w2, std::uint32_t* w3, std::uint32_t* w4,
                                    std::uint32_t* w5, std::uint32_t* w6, std::uint32_t* w7,
                                    std::uint8_t* block_16, std::uint8_t* block_255,
                                    std::uint8_t* trailing) {
  if (any_null(w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing))
    return detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kPartitionLogInfo);
  if (!exchange.ready()) return exchange.refusal();
  exchange.payload()[0] = partition;
  put_u16(exchange.payload() + 1, index);
  return run_log_info(exchange, w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing);
}

}  // namespace maltor::storage
