// Identity and version queries over the standard command frame.
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
using maltor::device::u16_at;
using maltor::device::u32_at;
using maltor::device::u8_at;
using maltor::device::u8_into_u32_at;
using maltor::link::CommandId;
using maltor::link::Exchange;

namespace {

// clang-format off
constexpr ReplyDecode kFirmwareVersion{4, {u16_at(5), u8_at(7), u8_at(8), u8_at(9)}};
constexpr ReplyDecode kSerialNumber{1, {bytes_at(5, 128)}};
constexpr ReplyDecode kMicroType{1, {u8_at(5)}};
constexpr ReplyDecode kMaltorInfo{2, {u8_at(5), u8_into_u32_at(6)}};
constexpr ReplyDecode kMmcInfo{1, {bytes_at(5, 17)}};
constexpr ReplyDecode kConfigInfo{2, {bytes_at(5, 16), u32_at(21)}};
// clang-format on

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCGetFirmwareVersion(uint16_t* version_word, uint8_t* version_1,
                                                    uint8_t* version_2, uint8_t* version_3) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return query<CommandId::kGetFirmwareVersion, kFirmwareVersion>(version_word, version_1,
                                                                   version_2, version_3);
  });
}

MALTOR_API uint8_t MALTOR_CALL SCGetSerialNumber(uint8_t* block) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kGetSerialNumber, kSerialNumber>(block); });
}

MALTOR_API uint8_t MALTOR_CALL SCSetSerialNumber(uint8_t n, const uint8_t* data) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (data == nullptr && n > 0) return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kSetSerialNumber, n);
    if (!exchange.ready()) return exchange.refusal();
    uint8_t* payload = exchange.payload();
    payload[0] = n;
    if (n > 0) std::memcpy(payload + 1, data, n);
    return exchange.run();
  });
}

MALTOR_API uint8_t MALTOR_CALL GetMicroType(uint8_t* type) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kGetMicroType, kMicroType>(type); });
}

MALTOR_API uint8_t MALTOR_CALL GetMaltorInfo(uint8_t* info_byte, uint32_t* info_value) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return query<CommandId::kGetMaltorInfo, kMaltorInfo>(info_byte, info_value);
  });
}

MALTOR_API uint8_t MALTOR_CALL SCGetMMCInfo(uint8_t* record) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kGetMmcInfo, kMmcInfo>(record); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBGetConfigInfo(uint8_t* tag, uint32_t* size) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kGetConfigInfo, kConfigInfo>(tag, size); });
}

}  // extern "C"
