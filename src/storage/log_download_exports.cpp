// Export shims of the sector download and its stop.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "storage/log_download.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCSDRequestSendData(const char* path, uint32_t start_sector,
                                                   uint32_t end_sector) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return maltor::storage::request_send_data(path, start_sector, end_sector);
  });
}

MALTOR_API uint8_t MALTOR_CALL SCSDStopSendData(void) {
  return maltor::exports::guarded([&]() -> uint8_t { return maltor::storage::stop_send_data(); });
}

}  // extern "C"
