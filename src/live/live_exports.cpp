// Export shims of live data, process data and stream data.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "live/live_data.h"
#include "live/process_stream.h"

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCUSBStartLiveData(uint8_t parameter) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::live::start_live_data(parameter); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBStopLiveData(uint8_t parameter) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::live::stop_live_data(parameter); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBGetLiveData(uint8_t /*unused*/, uint8_t* record) {
  return maltor::exports::guarded([&]() -> uint8_t { return maltor::live::get_live_data(record); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBStartProcessData(void) {
  return maltor::exports::guarded([&]() -> uint8_t { return maltor::live::start_process_data(); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBStopProcessData(void) {
  return maltor::exports::guarded([&]() -> uint8_t { return maltor::live::stop_process_data(); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBSendStreamData(uint8_t /*unused*/, const uint8_t* data,
                                                   uint32_t length) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return maltor::live::send_stream_data(data, length); });
}

}  // extern "C"
