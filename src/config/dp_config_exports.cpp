// Export shims of the data-processor configuration transfers.
#include "MaltorUSBdrv.h"
#include "config/dp_config.h"
#include "exports/call_barrier.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCReconfigureFile(const char* path, uint16_t* status) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::config::send_configuration(path, status); });
}

MALTOR_API uint8_t MALTOR_CALL SCConfigFileData(const char* path) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::config::read_configuration(path); });
}

}  // extern "C"
