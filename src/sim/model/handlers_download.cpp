// Sector downloads on the stream IN pipe of the virtual device.
#include "sim/model/command_handlers.h"
#include "sim/model/device_model.h"

namespace maltor::sim {

namespace {

std::uint32_t request_send_data(DeviceModel& m, const Request& r, std::uint8_t*) {
  if (r.payload_length() >= 8) {
    // The byte count wraps modulo 2^32 on the device as on the host.
    const std::uint32_t first = get32(r.payload());
    const std::uint32_t last = get32(r.payload() + 4);
    m.start_stream(static_cast<std::uint64_t>(first) * 512, (last - first + 1) * 512u);
  }
  return 0;
}

std::uint32_t stop_send_data(DeviceModel& m, const Request&, std::uint8_t*) {
  m.stop_stream();
  return 0;
}

constexpr HandlerRow kRows[] = {{0x13, request_send_data}, {0x14, stop_send_data}};

}  // namespace

std::span<const HandlerRow> download_rows() {
  return kRows;
}

}  // namespace maltor::sim
