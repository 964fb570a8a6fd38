// Clock and hardware settings.
#include <cstring>

#include "MaltorUSBdrv.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kBadArgument;
using maltor::kNoDevice;
using maltor::link::CommandId;
using maltor::link::Exchange;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCSetHWSettings(uint8_t selector_1, uint8_t selector_2, uint8_t n,
                                               const uint8_t* data) {
  if (data == nullptr && n > 0) return kBadArgument;
  Exchange exchange(CommandId::kSetHwSettings, n);
  if (!exchange.ready()) return kNoDevice;
  uint8_t* payload = exchange.payload();
  payload[0] = selector_1;
  payload[1] = selector_2;
  payload[2] = n;
  if (n > 0) std::memcpy(payload + 3, data, n);
  return exchange.run();
}

}  // extern "C"
