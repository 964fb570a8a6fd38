// The device clock: one 32-bit value passed through unchanged.
#include "MaltorUSBdrv.h"
#include "device/reply_decode.h"
#include "exports/call_barrier.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kOk;
using maltor::device::query;
using maltor::device::ReplyDecode;
using maltor::device::u32_at;
using maltor::link::CommandId;
using maltor::link::Exchange;
using maltor::link::put_u32;

namespace {

constexpr ReplyDecode kClock{1, {u32_at(5)}};

// What GetDateTime returns when the clock cannot be read: 0 is no plausible
// device time, so a caller that looks can tell the failure.
constexpr uint32_t kClockUnknown = 0;

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCGetDateTime(uint32_t* clock_value) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kGetDateTime, kClock>(clock_value); });
}

MALTOR_API uint32_t MALTOR_CALL GetDateTime(void) {
  return maltor::exports::guarded([&]() -> uint32_t {
    uint32_t clock_value = kClockUnknown;
    return SCGetDateTime(&clock_value) == kOk ? clock_value : kClockUnknown;
  });
}

MALTOR_API uint8_t MALTOR_CALL SCSetDateTime(uint32_t clock_value) {
  return maltor::exports::guarded([&]() -> uint8_t {
    Exchange exchange(CommandId::kSetDateTime);
    if (!exchange.ready()) return exchange.refusal();
    put_u32(exchange.payload(), clock_value);
    return exchange.run();
  });
}

}  // extern "C"
