// Export shim of the log-section log file download.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "storage/mirel_log_file.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL MirelGetFirstLogFile(uint32_t section, uint32_t length,
                                                    const char* path) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::storage::get_first_log_file(section, length, path); });
}

}  // extern "C"
