#include "device/settings.h"

#include <cstring>

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::device {

namespace {

using link::CommandId;
using link::Exchange;
using link::put_u16;

constexpr link::ReplyDecode kSettingsBlock{1, {link::bytes_at(5, 128)}};
constexpr link::ReplyDecode kSingleSetting{1, {link::u16_at(5)}};

}  // namespace

std::uint8_t get_hw_settings(std::uint8_t* block) {
  return link::query<CommandId::kGetHwSettings, kSettingsBlock>(block);
}

std::uint8_t set_hw_settings(std::uint8_t selector_1, std::uint8_t selector_2, std::uint8_t n,
                             const std::uint8_t* data) {
  if (data == nullptr && n > 0) return detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kSetHwSettings, n);
  if (!exchange.ready()) return exchange.refusal();
  std::uint8_t* payload = exchange.payload();
  payload[0] = selector_1;
  payload[1] = selector_2;
  payload[2] = n;
  if (n > 0) std::memcpy(payload + 3, data, n);
  return exchange.run();
}

std::uint8_t get_single_hw_setting(std::uint16_t number, std::uint16_t* value) {
  if (value == nullptr) return detail::refused_argument(kBadArgument);
  Exchange exchange(CommandId::kGetSingleHwSetting);
  if (!exchange.ready()) return exchange.refusal();
  put_u16(exchange.payload(), number);
  return link::run_and_copy<kSingleSetting>(exchange, value);
}

std::uint8_t set_single_hw_setting(std::uint16_t number, std::uint16_t value) {
  Exchange exchange(CommandId::kSetSingleHwSetting);
  if (!exchange.ready()) return exchange.refusal();
  put_u16(exchange.payload(), number);
  put_u16(exchange.payload() + 2, value);
  return exchange.run();
}

}  // namespace maltor::device
