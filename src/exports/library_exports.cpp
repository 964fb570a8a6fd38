// The library's own services: version, result texts, the error detail. They
// leave the calling thread's detail as it is, so it still describes the last
// device operation.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "link/error_detail.h"
#include "link/result.h"

using maltor::exports::Detail;
using maltor::exports::guarded;

extern "C" {

MALTOR_API uint32_t MALTOR_CALL MaltorGetVersion(void) {
  return guarded<Detail::kKept>([] { return std::uint32_t{MALTOR_USBDRV_VERSION}; });
}

MALTOR_API const char* MALTOR_CALL MaltorResultText(uint8_t code) {
  // Never null, not even when the barrier stops something.
  return guarded<Detail::kKept>([&] { return maltor::result_text(code); }, "");
}

MALTOR_API uint8_t MALTOR_CALL MaltorGetLastError(MaltorErrorDetail* detail) {
  return guarded<Detail::kKept>([&] { return maltor::detail::copy_current(detail); },
                                maltor::detail::kInternal);
}

}  // extern "C"
