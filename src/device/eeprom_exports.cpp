// EEPROM page reads and stores: the two commands whose answer can be the
// device's status byte.
#include "MaltorUSBdrv.h"
#include "device/reply_decode.h"
#include "exports/call_barrier.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kBadArgument;
using maltor::kOk;
using maltor::device::bytes_at;
using maltor::device::copy_reply;
using maltor::device::ReplyDecode;
using maltor::link::CommandId;
using maltor::link::Exchange;

namespace {

constexpr ReplyDecode kPageImage{1, {bytes_at(5, 64)}};
// A device that refuses a page answers with two data bytes, the first its status.
constexpr std::uint32_t kStatusReplyLength = 8;

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL GetEEPROMPageFormat(uint8_t page, uint8_t* image) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (image == nullptr) return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kGetEepromPageFormat);
    if (!exchange.ready()) return exchange.refusal();
    exchange.payload()[0] = page;
    if (const uint8_t result = exchange.run(); result != kOk) return result;
    // The image is copied whatever the reply's length; a status reply leaves
    // earlier reply bytes behind its own three.
    copy_reply<kPageImage>(exchange.reply(), image);
    return exchange.reply_count() == kStatusReplyLength ? exchange.reply()[5] : uint8_t{kOk};
  });
}

MALTOR_API uint8_t MALTOR_CALL StoreEEPROMHWSettings(uint8_t selector_1, uint8_t selector_2) {
  return maltor::exports::guarded([&]() -> uint8_t {
    Exchange exchange(CommandId::kStoreEepromHwSettings);
    if (!exchange.ready()) return exchange.refusal();
    exchange.payload()[0] = selector_1;
    exchange.payload()[1] = selector_2;
    if (const uint8_t result = exchange.run(); result != kOk) return result;
    return exchange.reply()[5];
  });
}

}  // extern "C"
