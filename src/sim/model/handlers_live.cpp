// Live and process data commands of the virtual device.
#include "sim/model/command_handlers.h"
#include "sim/model/device_model.h"

namespace maltor::sim {

namespace {

std::uint32_t start_live(DeviceModel& m, const Request&, std::uint8_t* data) {
  m.set_live(true);
  data[0] = 0;
  return 1;
}

std::uint32_t stop_live(DeviceModel& m, const Request&, std::uint8_t* data) {
  m.set_live(false);
  data[0] = 0;
  return 1;
}

std::uint32_t no_data(DeviceModel&, const Request&, std::uint8_t*) {
  return 0;
}

constexpr HandlerRow kRows[] = {
    {0x19, start_live}, {0x1A, stop_live}, {0x2F, no_data}, {0x30, no_data}};

}  // namespace

std::span<const HandlerRow> live_rows() {
  return kRows;
}

}  // namespace maltor::sim
