// The library's own services: version, result texts, the error detail. They
// leave the calling thread's detail as it is, so it still describes the last
// device operation.
#include <cstring>

#include "MaltorUSBdrv.h"
#include "link/error_detail.h"
#include "link/result.h"

extern "C" {

MALTOR_API uint32_t MALTOR_CALL MaltorGetVersion(void) {
  return MALTOR_USBDRV_VERSION;
}

MALTOR_API const char* MALTOR_CALL MaltorResultText(uint8_t code) {
  return maltor::result_text(code);
}

MALTOR_API uint8_t MALTOR_CALL MaltorGetLastError(MaltorErrorDetail* detail) {
  const MaltorErrorDetail& current = maltor::detail::current();
  if (detail != nullptr) std::memcpy(detail, &current, sizeof current);
  return current.kind;
}

}  // extern "C"
