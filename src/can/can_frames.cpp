#include "can/can_frames.h"

#include <cstring>

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"
#include "platform/clock.h"

namespace maltor::can {

using link::CommandId;
using link::Exchange;
using link::get_u16;
using link::get_u32;
using link::put_u32;

namespace {

// Reply to a receive poll: frame count at bytes 5-6, then the device's frame
// image. Its data bytes 0-7 follow the identifier words directly; bytes 26-29
// carry a device word the record has no place for, and data bytes 8-63 follow.
constexpr std::uint32_t kCountAt = 5;
constexpr std::uint32_t kImageAt = 7;
constexpr std::uint32_t kFirstDataAt = 18;
constexpr std::uint32_t kFirstDataCount = 8;
constexpr std::uint32_t kRestDataAt = 30;

void fill_from_reply(MaltorCanMessage* message, const std::uint8_t* reply) {
  message->bus = reply[kImageAt];
  message->attribute = reply[kImageAt + 1];
  message->length = reply[kImageAt + 2];
  message->identifier = get_u32(reply + kImageAt + 3);
  message->returned_word = get_u32(reply + kImageAt + 7);
  // The record's timeout field lies over the image's first four data bytes.
  message->receive_timeout = get_u32(reply + kImageAt + 11);
  std::memcpy(message->data, reply + kFirstDataAt, kFirstDataCount);
  std::memcpy(message->data + kFirstDataCount, reply + kRestDataAt,
              MALTOR_CAN_MAX_DATA - kFirstDataCount);
}

}  // namespace

std::uint8_t transmit(MaltorCanMessage* message) {
  if (message == nullptr || message->length > MALTOR_CAN_MAX_DATA)
    return maltor::detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kCanTx, message->length);
  if (!exchange.ready()) return exchange.refusal();

  message->identifier = kSentIdentifier;
  message->returned_word = kSentReturnedWord;
  std::uint8_t* payload = exchange.payload();
  payload[0] = message->bus;
  payload[1] = message->attribute;
  payload[2] = message->length;
  put_u32(payload + 3, message->identifier);
  put_u32(payload + 7, message->returned_word);
  std::memcpy(payload + 11, message->data, message->length);

  if (const auto result = exchange.run(); result != kOk) return result;
  // Reply byte 5 is the device's own; the returned word follows it.
  message->returned_word = get_u32(exchange.reply() + 6);
  return kOk;
}

std::uint8_t receive(std::uint16_t* frame_count, MaltorCanMessage* message) {
  if (frame_count == nullptr || message == nullptr)
    return maltor::detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kCanRx);
  if (!exchange.ready()) return exchange.refusal();

  const std::uint32_t timeout_ms = message->receive_timeout;
  std::uint8_t* payload = exchange.payload();
  payload[0] = message->bus;
  put_u32(payload + 1, timeout_ms);
  const std::uint32_t start = platform::tick_ms();
  link::g_exchange_lock.assert_held();  // held by the exchange
  std::memset(link::buffer0().reply, 0, 64);
  std::memset(message, 0, sizeof *message);

  // The same frame, sequence number included, goes out on every poll. A
  // missing reply or a count of 0 only ends that poll.
  for (std::uint8_t result = exchange.run();; result = exchange.rerun()) {
    if (result == kOk) {
      const std::uint16_t count = get_u16(exchange.reply() + kCountAt);
      if (count == 1) {
        *frame_count = 1;
        fill_from_reply(message, exchange.reply());
        return kOk;
      }
      if (count != 0) return kOk;
    }
    // Unsigned difference: correct across the tick counter's wrap.
    if (static_cast<std::uint32_t>(platform::tick_ms() - start) > timeout_ms) {
      return kExchangeFailed;
    }
  }
}

}  // namespace maltor::can
