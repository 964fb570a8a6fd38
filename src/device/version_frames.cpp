#include "device/version_frames.h"

#include <cstring>

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/mirel_frame.h"
#include "link/result.h"

namespace maltor::device {

namespace {

using link::buffer0;
using link::ExchangeTurn;
using link::raw_exchange;
using link::Reader;
using link::slot0;

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

std::uint8_t get_firmware_version_text(char* text) {
  if (text == nullptr) return detail::refused_argument(kBadArgument);
  const ExchangeTurn turn;
  if (const std::uint8_t refused = turn.open_test(); refused != kOk) return refused;
  const bool short_text = slot0().kind == kShortTextKind;
  std::uint32_t length = sizeof kVersionFrame;
  if (short_text) {
    length = link::build_mirel_frame(link::kMirelFirmwareVersion, 0);
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
}

std::uint8_t get_configuration_record(std::uint8_t* record) {
  if (record == nullptr) return detail::refused_argument(kBadArgument);
  const ExchangeTurn turn;
  if (const std::uint8_t refused = turn.open_test(); refused != kOk) return refused;
  std::memcpy(buffer0().request, kConfigInfoFrame, sizeof kConfigInfoFrame);
  if (raw_exchange(sizeof kConfigInfoFrame, kConfigInfoReplyLength, kTimeoutMs, Reader::kFixed) ==
      0) {
    return kExchangeFailed;
  }
  std::memcpy(record, buffer0().reply + kConfigInfoFrom, kConfigInfoLength);
  return kOk;
}

}  // namespace maltor::device
