// Firmware updates of the gateway and the logger, their status and stop, and
// the data-processor reflash.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "update/gateway_update.h"
#include "update/logger_update.h"
#include "update/reflash.h"
#include "update/update_control.h"

using maltor::exports::Detail;
using maltor::exports::guarded;
namespace update = maltor::update;

extern "C" {

MALTOR_API void MALTOR_CALL ReflashStatusCallBack(MaltorStatusCallback callback) {
  guarded([&] { update::set_status_callback(callback); });
}

MALTOR_API uint8_t MALTOR_CALL UpdateFirmware(const char* firmware_path, const char* log_path) {
  return guarded(
      [&] { return update::start_update(firmware_path, log_path, update::gateway_update); });
}

MALTOR_API uint8_t MALTOR_CALL UpdateLoggerFirmware(const char* firmware_path,
                                                    const char* log_path) {
  return guarded(
      [&] { return update::start_update(firmware_path, log_path, update::logger_update); });
}

MALTOR_API uint8_t MALTOR_CALL StopFirmwareUpdate(void) {
  return guarded([&] { return update::stop_update(); });
}

MALTOR_API uint8_t MALTOR_CALL MaltorWaitForUpdate(uint32_t timeout_ms) {
  return guarded<Detail::kKept>([&] { return update::wait_for_update(timeout_ms); });
}

MALTOR_API uint8_t MALTOR_CALL SCReflashFile(const char* path) {
  return guarded([&] { return update::reflash_file(path); });
}

MALTOR_API int32_t MALTOR_CALL SCReflash(void) {
  return guarded([&] { return update::reflash_fixed(); });
}

}  // extern "C"
