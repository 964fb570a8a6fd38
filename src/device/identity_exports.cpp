// Identity and version queries.
#include <cstring>

#include "MaltorUSBdrv.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kBadArgument;
using maltor::kNoDevice;
using maltor::kOk;
using maltor::link::CommandId;
using maltor::link::Exchange;
using maltor::link::get_u16;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCGetFirmwareVersion(uint16_t* version_word, uint8_t* version_1,
                                                    uint8_t* version_2, uint8_t* version_3) {
  if (!version_word || !version_1 || !version_2 || !version_3) return kBadArgument;
  Exchange exchange(CommandId::kGetFirmwareVersion);
  if (!exchange.ready()) return kNoDevice;
  if (const auto result = exchange.run(); result != kOk) return result;
  const uint8_t* reply = exchange.reply();
  *version_word = get_u16(reply + 5);
  *version_1 = reply[7];
  *version_2 = reply[8];
  *version_3 = reply[9];
  return kOk;
}

MALTOR_API uint8_t MALTOR_CALL SCGetSerialNumber(uint8_t* block) {
  if (block == nullptr) return kBadArgument;
  Exchange exchange(CommandId::kGetSerialNumber);
  if (!exchange.ready()) return kNoDevice;
  if (const auto result = exchange.run(); result != kOk) return result;
  std::memcpy(block, exchange.reply() + 5, 128);
  return kOk;
}

}  // extern "C"
