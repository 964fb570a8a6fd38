#include "storage/card_format.h"

#include <cstring>

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::storage {

namespace {

using link::CommandId;
using link::Exchange;
using link::put_u16;

constexpr link::ReplyDecode kFormatReply{1, {link::u16_at(5)}};

}  // namespace

std::uint8_t format_card(std::uint16_t parameter, std::uint16_t* format_reply) {
  if (format_reply == nullptr) return detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kSdFormat);
  if (!exchange.ready()) return exchange.refusal();
  put_u16(exchange.payload(), parameter);
  return link::run_and_copy<kFormatReply>(exchange, format_reply);
}

std::uint8_t format_partitions(std::uint16_t parameter, std::uint8_t n,
                               const std::uint8_t* partitions, std::uint16_t* format_reply) {
  if (format_reply == nullptr || (partitions == nullptr && n > 0))
    return detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kPartitionFormat, n);
  if (!exchange.ready()) return exchange.refusal();
  std::uint8_t* payload = exchange.payload();
  put_u16(payload, parameter);
  payload[2] = n;
  if (n > 0) std::memcpy(payload + 3, partitions, n);
  return link::run_and_copy<kFormatReply>(exchange, format_reply);
}

}  // namespace maltor::storage
