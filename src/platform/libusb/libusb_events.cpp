// The libusb context and the event pump every wait of the backend runs.
#include <chrono>

#include "platform/libusb/libusb_state.h"

namespace maltor::platform::libusb_backend {

libusb_context* context() {
  // Kept until the process ends: devices the device table forgot after a
  // reset may still be open, and closing them from a static destructor would
  // race the application's own shutdown.
  static libusb_context* const created = [] {
    libusb_context* made = nullptr;
    return libusb_init(&made) == LIBUSB_SUCCESS ? made : nullptr;
  }();
  return created;
}

void pump_until(int& completed, Clock::time_point deadline) {
  libusb_context* usb = context();
  if (usb == nullptr) return;
  const auto left = deadline - Clock::now();
  const auto micros =
      left.count() > 0 ? std::chrono::duration_cast<std::chrono::microseconds>(left).count() : 0;
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(micros / 1'000'000);
  limit.tv_usec = static_cast<suseconds_t>(micros % 1'000'000);
  libusb_handle_events_timeout_completed(usb, &limit, &completed);
}

void pump_now(int& completed) {
  pump_until(completed, Clock::now());
}

}  // namespace maltor::platform::libusb_backend
