#include "link/connection.h"

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/result.h"
#include "link/usb_trace.h"

namespace maltor::link {

std::atomic<void*> g_receive_callback{nullptr};
std::atomic<void*> g_caller_critical_section{nullptr};

void store_receive_callback(void* callback) {
  g_receive_callback.store(callback);
}

void store_caller_critical_section(void* critical_section) {
  g_caller_critical_section.store(critical_section);
}

void library_attach() {
  const SlotLock held;
  ResetDeviceTable();
}

// The lock is a static object and outlives every call; nothing to release.
// A trace still running keeps what its buffer holds.
void library_detach() {
  trace::stop();
}

std::uint8_t device_is_ready() {
  const SlotLock held;
  DeviceSlot& slot = slot0();
  if (slot.usb == kInvalidHandle) DiscoverDevices();
  if (slot.usb != kInvalidHandle) {
    std::uint8_t speed = 0;
    const bool speed_known = platform::query_device_speed(slot.usb, &speed);
    g_high_speed = speed == 3 ? 1 : 0;
    std::uint8_t endpoints = 0;
    if (speed_known && platform::query_endpoint_count(slot.usb, 0, &endpoints) && endpoints > 0) {
      return endpoints;
    }
  }
  ResetDeviceTable();
  return 0;
}

std::uint8_t get_connected(MaltorConnection* record) {
  const SlotLock held;  // the record shows the device that was found ready
  if (device_is_ready() == 0) return maltor::detail::no_device();
  if (record == nullptr) return maltor::detail::refused_argument(kBadArgument);
  const DeviceSlot& slot = slot0();
  record->device_kind = slot.kind;
  record->file_handle = slot.file;
  record->reserved_word = slot.reserved_word;
  record->reserved_half = slot.reserved_half;
  return kOk;
}

void close_device() {
  const SlotLock held;
  if (update_running()) return;
  CloseSlot(slot0());
}

void close_device_if_open() {
  const SlotLock held;
  if (slot0().file == kInvalidHandle) return;
  close_device();
}

}  // namespace maltor::link
