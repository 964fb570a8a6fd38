// Exports whose operations are still being built. Each answers as "nothing
// there" so a caller never mistakes it for success; each moves to its
// subsystem once it is built.
#include "MaltorUSBdrv.h"
#include "link/error_detail.h"
#include "link/result.h"
#include "update/update_control.h"

extern "C" {

// Update wait: for now waits without a bound.
MALTOR_API uint8_t MALTOR_CALL MaltorWaitForUpdate(uint32_t timeout_ms) {
  if (timeout_ms != 0) maltor::update::wait_for_update_thread();
  return 0;
}

}  // extern "C"
