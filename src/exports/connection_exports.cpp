// The connection: open-device state, close, the caller's receive callback
// and lock, and the choice among several devices.
#include "MaltorUSBdrv.h"
#include "exports/call_barrier.h"
#include "link/connection.h"
#include "link/device_choice.h"

using maltor::exports::Detail;
using maltor::exports::guarded;

extern "C" {

MALTOR_API uint8_t MALTOR_CALL GetConnected(MaltorConnection* record) {
  return guarded([&] { return maltor::link::get_connected(record); });
}

MALTOR_API uint8_t MALTOR_CALL DeviceIsReady(void) {
  return guarded([&] { return maltor::link::device_is_ready(); }, 0);
}

MALTOR_API void MALTOR_CALL CloseDevice(void) {
  guarded([&] { maltor::link::close_device(); });
}

MALTOR_API void MALTOR_CALL CloseDevice2(void) {
  guarded([&] { maltor::link::close_device_if_open(); });
}

MALTOR_API void MALTOR_CALL DllRcvCallBack(void* callback) {
  guarded([&] { maltor::link::store_receive_callback(callback); });
}

MALTOR_API void MALTOR_CALL SetCallbackCriticalSection(void* critical_section) {
  guarded([&] { maltor::link::store_caller_critical_section(critical_section); });
}

MALTOR_API uint32_t MALTOR_CALL MaltorListDevices(MaltorDeviceInfo* out, uint32_t capacity) {
  return guarded<Detail::kKept>([&] { return maltor::link::list_devices(out, capacity); });
}

MALTOR_API uint8_t MALTOR_CALL MaltorSelectDevice(const char* id) {
  return guarded<Detail::kKept>([&] { return maltor::link::select_device(id); });
}

}  // extern "C"
