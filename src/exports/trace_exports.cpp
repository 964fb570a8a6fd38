// The USB trace's start and stop (link/usb_trace.h records the transfers).
#include "MaltorUSBdrv.h"
#include "link/error_detail.h"
#include "link/result.h"
#include "link/usb_trace.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL MaltorTraceStart(const char* path) {
  maltor::detail::clear();
  if (maltor::trace::start(path)) return maltor::kOk;
  return maltor::detail::set(maltor::kFileOpenFailed, maltor::detail::kFile, 0, 0, 0,
                             "the USB trace %s could not be created or written",
                             path == nullptr ? "(null)" : path);
}

MALTOR_API void MALTOR_CALL MaltorTraceStop(void) {
  maltor::detail::clear();
  if (!maltor::trace::stop()) {
    maltor::detail::set(maltor::kFileOpenFailed, maltor::detail::kFile, 0, 0, 0,
                        "the USB trace's last bytes could not be written");
  }
}

}  // extern "C"
