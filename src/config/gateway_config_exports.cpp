// Export shim of the gateway configuration transfer.
#include "MaltorUSBdrv.h"
#include "config/gateway_config.h"
#include "exports/call_barrier.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SendTaloqConfiguration(void*, uint32_t length, const uint8_t* data) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::config::send_gateway_configuration(length, data); });
}

}  // extern "C"
