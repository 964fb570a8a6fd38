#include "device/identity.h"

#include <cstring>

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::device {

namespace {

using link::bytes_at;
using link::CommandId;
using link::query;
using link::ReplyDecode;
using link::u16_at;
using link::u32_at;
using link::u8_at;

// clang-format off
constexpr ReplyDecode kFirmwareVersion{4, {u16_at(5), u8_at(7), u8_at(8), u8_at(9)}};
constexpr ReplyDecode kSerialNumber{1, {bytes_at(5, 128)}};
constexpr ReplyDecode kMicroType{1, {u8_at(5)}};
constexpr ReplyDecode kMaltorInfo{2, {u8_at(5), link::u8_into_u32_at(6)}};
constexpr ReplyDecode kMmcInfo{1, {bytes_at(5, 17)}};
constexpr ReplyDecode kConfigInfo{2, {bytes_at(5, 16), u32_at(21)}};
// clang-format on

}  // namespace

std::uint8_t get_firmware_version(std::uint16_t* version_word, std::uint8_t* version_1,
                                  std::uint8_t* version_2, std::uint8_t* version_3) {
  return query<CommandId::kGetFirmwareVersion, kFirmwareVersion>(version_word, version_1, version_2,
                                                                 version_3);
}

std::uint8_t get_serial_number(std::uint8_t* block) {
  return query<CommandId::kGetSerialNumber, kSerialNumber>(block);
}

std::uint8_t set_serial_number(std::uint8_t n, const std::uint8_t* data) {
  if (data == nullptr && n > 0) return detail::refused_argument(kBadArgument);
  link::Exchange exchange(CommandId::kSetSerialNumber, n);
  if (!exchange.ready()) return exchange.refusal();
  std::uint8_t* payload = exchange.payload();
  payload[0] = n;
  if (n > 0) std::memcpy(payload + 1, data, n);
  return exchange.run();
}

std::uint8_t get_micro_type(std::uint8_t* type) {
  return query<CommandId::kGetMicroType, kMicroType>(type);
}

std::uint8_t get_maltor_info(std::uint8_t* info_byte, std::uint32_t* info_value) {
  return query<CommandId::kGetMaltorInfo, kMaltorInfo>(info_byte, info_value);
}

std::uint8_t get_mmc_info(std::uint8_t* record) {
  return query<CommandId::kGetMmcInfo, kMmcInfo>(record);
}

std::uint8_t get_config_info(std::uint8_t* tag, std::uint32_t* size) {
  return query<CommandId::kGetConfigInfo, kConfigInfo>(tag, size);
}

}  // namespace maltor::device
