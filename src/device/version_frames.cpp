// The two identity queries that use short frames of other layouts: no
// sequence byte, written and read through the raw exchange.
#include <cstring>

#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"
#include "storage/mirel_frame.h"

using maltor::kBadArgument;
using maltor::kExchangeFailed;
using maltor::kOk;
using maltor::link::buffer0;
using maltor::link::ExchangeTurn;
using maltor::link::raw_exchange;
using maltor::link::Reader;
using maltor::link::slot0;

namespace {

constexpr std::uint32_t kTimeoutMs = 5000;

// Firmware version text: reply bytes 9–21 into text bytes 0–12.
constexpr std::uint32_t kVersionReplyLength = 23;
constexpr std::uint32_t kVersionTextFrom = 9;
constexpr std::uint32_t kVersionTextLength = 13;
// Kind-1 devices answer a 5-character text.
constexpr std::uint8_t kShortTextKind = 1;
constexpr std::uint8_t kVersionFrame[4] = {0x04, 0xDC, 0x00, 0x00};

constexpr std::uint8_t kConfigInfoFrame[5] = {0x04, 0x00, 0x14, 0x00, 0x14};
constexpr std::uint32_t kConfigInfoReplyLength = 29;
constexpr std::uint32_t kConfigInfoFrom = 3;
constexpr std::uint32_t kConfigInfoLength = 26;

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL GetFirmwareVersion(char* text) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (text == nullptr) return maltor::detail::refused_argument(kBadArgument);
    const ExchangeTurn turn;
    if (const uint8_t refused = turn.open_test(); refused != kOk) return refused;
    const bool short_text = slot0().kind == kShortTextKind;
    std::uint32_t length = sizeof kVersionFrame;
    if (short_text) {
      length = maltor::storage::build_mirel_frame(maltor::storage::kMirelFirmwareVersion, 0);
    } else {
      std::memcpy(buffer0().request, kVersionFrame, sizeof kVersionFrame);
    }
    if (raw_exchange(length, kVersionReplyLength, kTimeoutMs, Reader::kFixed) == 0) {
      return kExchangeFailed;
    }
    std::memcpy(text, buffer0().reply + kVersionTextFrom, kVersionTextLength);
    // Kind 1 keeps the copied bytes behind its terminator.
    text[short_text ? 5 : 13] = '\0';
    return kOk;
  });
}

MALTOR_API uint8_t MALTOR_CALL GetConfigurationInfo(uint8_t* record) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (record == nullptr) return maltor::detail::refused_argument(kBadArgument);
    const ExchangeTurn turn;
    if (const uint8_t refused = turn.open_test(); refused != kOk) return refused;
    std::memcpy(buffer0().request, kConfigInfoFrame, sizeof kConfigInfoFrame);
    if (raw_exchange(sizeof kConfigInfoFrame, kConfigInfoReplyLength, kTimeoutMs, Reader::kFixed) ==
        0) {
      return kExchangeFailed;
    }
    std::memcpy(record, buffer0().reply + kConfigInfoFrom, kConfigInfoLength);
    return kOk;
  });
}

}  // extern "C"
