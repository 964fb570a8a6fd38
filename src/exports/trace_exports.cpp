// The USB trace's start and stop (link/usb_trace.h records the transfers).
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "link/usb_trace.h"

using maltor::exports::guarded;
namespace trace = maltor::trace;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL MaltorTraceStart(const char* path) {
  return guarded([&] { return trace::start_trace(path); });
}

MALTOR_API void MALTOR_CALL MaltorTraceStop(void) {
  guarded([&] { trace::stop_trace(); });
}

}  // extern "C"
