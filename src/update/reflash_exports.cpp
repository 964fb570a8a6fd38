// Export shims of the data-processor reflash.
#include "MaltorUSBdrv.h"
#include "update/reflash.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCReflashFile(const char* path) {
  return maltor::update::reflash_file(path);
}

MALTOR_API int32_t MALTOR_CALL SCReflash(void) {
  return maltor::update::reflash_fixed();
}

}  // extern "C"
