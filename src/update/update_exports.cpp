// Export shims of the firmware update control.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "update/gateway_update.h"
#include "update/logger_update.h"
#include "update/update_control.h"

extern "C" {

MALTOR_API void MALTOR_CALL ReflashStatusCallBack(MaltorStatusCallback callback) {
  maltor::exports::guarded([&] { maltor::update::set_status_callback(callback); });
}

MALTOR_API uint8_t MALTOR_CALL UpdateFirmware(const char* firmware_path, const char* log_path) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return maltor::update::start_update(firmware_path, log_path, maltor::update::gateway_update);
  });
}

MALTOR_API uint8_t MALTOR_CALL UpdateLoggerFirmware(const char* firmware_path,
                                                    const char* log_path) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return maltor::update::start_update(firmware_path, log_path, maltor::update::logger_update);
  });
}

MALTOR_API uint8_t MALTOR_CALL StopFirmwareUpdate(void) {
  return maltor::exports::guarded([&]() -> uint8_t { return maltor::update::stop_update(); });
}

MALTOR_API uint8_t MALTOR_CALL MaltorWaitForUpdate(uint32_t timeout_ms) {
  return maltor::update::wait_for_update(timeout_ms);
}

}  // extern "C"
