// Formatting the whole card, and laying out and formatting its partitions.
#include <cstring>

#include "MaltorUSBdrv.h"
#include "device/reply_decode.h"
#include "exports/call_barrier.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kBadArgument;
using maltor::device::ReplyDecode;
using maltor::device::run_and_copy;
using maltor::device::u16_at;
using maltor::link::CommandId;
using maltor::link::Exchange;
using maltor::link::put_u16;

namespace {

constexpr ReplyDecode kFormatReply{1, {u16_at(5)}};

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCSDFormat(uint16_t parameter, uint16_t* format_reply) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (format_reply == nullptr) return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kSdFormat);
    if (!exchange.ready()) return exchange.refusal();
    put_u16(exchange.payload(), parameter);
    return run_and_copy<kFormatReply>(exchange, format_reply);
  });
}

MALTOR_API uint8_t MALTOR_CALL SCPartitionFormat(uint16_t parameter, uint8_t n,
                                                 const uint8_t* partitions,
                                                 uint16_t* format_reply) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (format_reply == nullptr || (partitions == nullptr && n > 0))
      return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kPartitionFormat, n);
    if (!exchange.ready()) return exchange.refusal();
    uint8_t* payload = exchange.payload();
    put_u16(payload, parameter);
    payload[2] = n;
    if (n > 0) std::memcpy(payload + 3, partitions, n);
    return run_and_copy<kFormatReply>(exchange, format_reply);
  });
}

}  // extern "C"
