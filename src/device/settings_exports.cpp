// Hardware settings: the whole block, a block write, and single settings.
#include <cstring>

#include "MaltorUSBdrv.h"
#include "device/reply_decode.h"
#include "exports/call_barrier.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kBadArgument;
using maltor::device::bytes_at;
using maltor::device::query;
using maltor::device::ReplyDecode;
using maltor::device::run_and_copy;
using maltor::device::u16_at;
using maltor::link::CommandId;
using maltor::link::Exchange;
using maltor::link::put_u16;

namespace {

constexpr ReplyDecode kSettingsBlock{1, {bytes_at(5, 128)}};
constexpr ReplyDecode kSingleSetting{1, {u16_at(5)}};

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCGetHWSettings(uint8_t* block) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kGetHwSettings, kSettingsBlock>(block); });
}

MALTOR_API uint8_t MALTOR_CALL SCSetHWSettings(uint8_t selector_1, uint8_t selector_2, uint8_t n,
                                               const uint8_t* data) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (data == nullptr && n > 0) return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kSetHwSettings, n);
    if (!exchange.ready()) return exchange.refusal();
    uint8_t* payload = exchange.payload();
    payload[0] = selector_1;
    payload[1] = selector_2;
    payload[2] = n;
    if (n > 0) std::memcpy(payload + 3, data, n);
    return exchange.run();
  });
}

MALTOR_API uint8_t MALTOR_CALL GetSingleHWSetting(uint16_t number, uint16_t* value) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (value == nullptr) return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kGetSingleHwSetting);
    if (!exchange.ready()) return exchange.refusal();
    put_u16(exchange.payload(), number);
    return run_and_copy<kSingleSetting>(exchange, value);
  });
}

MALTOR_API uint8_t MALTOR_CALL SetSingleHWSetting(uint16_t number, uint16_t value) {
  return maltor::exports::guarded([&]() -> uint8_t {
    Exchange exchange(CommandId::kSetSingleHwSetting);
    if (!exchange.ready()) return exchange.refusal();
    put_u16(exchange.payload(), number);
    put_u16(exchange.payload() + 2, value);
    return exchange.run();
  });
}

}  // extern "C"
