// Export shims of the data-processor reflash.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "update/reflash.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCReflashFile(const char* path) {
  return maltor::exports::guarded([&]() -> uint8_t { return maltor::update::reflash_file(path); });
}

MALTOR_API int32_t MALTOR_CALL SCReflash(void) {
  return maltor::exports::guarded([&]() -> int32_t { return maltor::update::reflash_fixed(); });
}

}  // extern "C"
