// Exports whose operations are still being built. Each answers as "nothing
// there" so a caller never mistakes it for success; each moves to its
// subsystem once it is built.
#include "MaltorUSBdrv.h"
#include "link/error_detail.h"
#include "link/result.h"

extern "C" {

// USB trace.
MALTOR_API uint8_t MALTOR_CALL MaltorTraceStart(const char*) {
  return maltor::kFileOpenFailed;
}
MALTOR_API void MALTOR_CALL MaltorTraceStop(void) {}

}  // extern "C"
