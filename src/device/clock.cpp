#include "device/clock.h"

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::device {

namespace {

constexpr link::ReplyDecode kClock{1, {link::u32_at(5)}};

// What GetDateTime returns when the clock cannot be read: 0 is no plausible
// device time, so a caller that looks can tell the failure.
constexpr std::uint32_t kClockUnknown = 0;

}  // namespace

std::uint8_t get_date_time(std::uint32_t* clock_value) {
  return link::query<link::CommandId::kGetDateTime, kClock>(clock_value);
}

std::uint32_t date_time() {
  std::uint32_t clock_value = kClockUnknown;
  return detail::settle(get_date_time(&clock_value)) == kOk ? clock_value : kClockUnknown;
}

std::uint8_t set_date_time(std::uint32_t clock_value) {
  link::Exchange exchange(link::CommandId::kSetDateTime);
  if (!exchange.ready()) return exchange.refusal();
  link::put_u32(exchange.payload(), clock_value);
  return exchange.run();
}

}  // namespace maltor::device
