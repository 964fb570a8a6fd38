// Live data, process data and stream data.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "live/live_data.h"
#include "live/process_stream.h"

using maltor::exports::guarded;
namespace live = maltor::live;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCUSBStartLiveData(uint8_t parameter) {
  return guarded([&] { return live::start_live_data(parameter); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBStopLiveData(uint8_t parameter) {
  return guarded([&] { return live::stop_live_data(parameter); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBGetLiveData(uint8_t /*unused*/, uint8_t* record) {
  return guarded([&] { return live::get_live_data(record); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBStartProcessData(void) {
  return guarded([&] { return live::start_process_data(); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBStopProcessData(void) {
  return guarded([&] { return live::stop_process_data(); });
}

MALTOR_API uint8_t MALTOR_CALL SCUSBSendStreamData(uint8_t /*unused*/, const uint8_t* data,
                                                   uint32_t length) {
  return guarded([&] { return live::send_stream_data(data, length); });
}

}  // extern "C"
