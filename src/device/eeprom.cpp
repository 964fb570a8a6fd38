#include "device/eeprom.h"

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::device {

namespace {

constexpr link::ReplyDecode kPageImage{1, {link::bytes_at(5, 64)}};
// A device that refuses a page answers with two data bytes, the first its status.
constexpr std::uint32_t kStatusReplyLength = 8;

}  // namespace

std::uint8_t get_eeprom_page_format(std::uint8_t page, std::uint8_t* image) {
  if (image == nullptr) return detail::refused_argument(kBadArgument);
  link::Exchange exchange(link::CommandId::kGetEepromPageFormat);
  if (!exchange.ready()) return exchange.refusal();
  exchange.payload()[0] = page;
  if (const std::uint8_t result = exchange.run(); result != kOk) return result;
  // The image is copied whatever the reply's length; a status reply leaves
  // earlier reply bytes behind its own three.
  link::copy_reply<kPageImage>(exchange.reply(), image);
  return exchange.reply_count() == kStatusReplyLength ? exchange.reply()[5] : std::uint8_t{kOk};
}

std::uint8_t store_eeprom_hw_settings(std::uint8_t selector_1, std::uint8_t selector_2) {
  link::Exchange exchange(link::CommandId::kStoreEepromHwSettings);
  if (!exchange.ready()) return exchange.refusal();
  exchange.payload()[0] = selector_1;
  exchange.payload()[1] = selector_2;
  if (const std::uint8_t result = exchange.run(); result != kOk) return result;
  return exchange.reply()[5];
}

}  // namespace maltor::device
