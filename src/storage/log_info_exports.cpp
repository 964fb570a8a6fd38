// One log info record of the whole card or of one partition.
#include "MaltorUSBdrv.h"
#include "device/reply_decode.h"
#include "exports/call_barrier.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kBadArgument;
using maltor::device::any_null;
using maltor::device::bytes_at;
using maltor::device::ReplyDecode;
using maltor::device::run_and_copy;
using maltor::device::u32_at;
using maltor::device::u8_at;
using maltor::link::CommandId;
using maltor::link::Exchange;
using maltor::link::put_u16;

namespace {

// Word outputs 1–7 in argument order: the fifth wire word (bytes 21–24) goes
// to the seventh output, the sixth and seventh wire words to the fifth and
// sixth outputs.
// clang-format off
constexpr ReplyDecode kLogInfo{10, {
    u32_at(5), u32_at(9), u32_at(13), u32_at(17), u32_at(25), u32_at(29), u32_at(21),
    bytes_at(33, 16), bytes_at(49, 255), u8_at(304)}};
// clang-format on

uint8_t run_log_info(Exchange& exchange, uint32_t* w1, uint32_t* w2, uint32_t* w3, uint32_t* w4,
                     uint32_t* w5, uint32_t* w6, uint32_t* w7, uint8_t* block_16,
                     uint8_t* block_255, uint8_t* trailing) {
  return run_and_copy<kLogInfo>(exchange, w1, w2, w3, w4, w5, w6, w7, block_16, block_255,
                                trailing);
}

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCSDLogInfo(uint16_t index, uint32_t* w1, uint32_t* w2, uint32_t* w3,
                                           uint32_t* w4, uint32_t* w5, uint32_t* w6, uint32_t* w7,
                                           uint8_t* block_16, uint8_t* block_255,
                                           uint8_t* trailing) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (any_null(w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing))
      return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kSdLogInfo);
    if (!exchange.ready()) return exchange.refusal();
    put_u16(exchange.payload(), index);
    return run_log_info(exchange, w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing);
  });
}

MALTOR_API uint8_t MALTOR_CALL SCPartitionLogInfo(uint8_t partition, uint16_t index, uint32_t* w1,
                                                  uint32_t* w2, uint32_t* w3, uint32_t* w4,
                                                  uint32_t* w5, uint32_t* w6, uint32_t* w7,
                                                  uint8_t* block_16, uint8_t* block_255,
                                                  uint8_t* trailing) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (any_null(w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing))
      return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kPartitionLogInfo);
    if (!exchange.ready()) return exchange.refusal();
    exchange.payload()[0] = partition;
    put_u16(exchange.payload() + 1, index);
    return run_log_info(exchange, w1, w2, w3, w4, w5, w6, w7, block_16, block_255, trailing);
  });
}

}  // extern "C"
