// CAN commands of the virtual device.
#include "platform/sim/model/command_handlers.h"
#include "platform/sim/model/device_model.h"

namespace maltor::sim {

namespace {

// A 32-bit reply word; the bus number, where there is one, comes back in it.
std::uint32_t reply_word(DeviceModel&, const Request& r, std::uint8_t* data) {
  put32(data, r.payload_length() >= 2 ? 0x100u + get16(r.payload()) : 0x100u);
  return 4;
}

std::uint32_t bus_count(DeviceModel&, const Request&, std::uint8_t* data) {
  data[0] = 2;
  return 1;
}

std::uint32_t no_data(DeviceModel&, const Request&, std::uint8_t*) {
  return 0;
}

// clang-format off
constexpr HandlerRow kRows[] = {
  {0x1D, no_data},    {0x20, no_data},    {0x31, reply_word}, {0x32, reply_word},
  {0x33, bus_count},  {0x34, reply_word}, {0x35, reply_word}, {0x36, reply_word},
  {0x37, reply_word}, {0x38, reply_word}, {0x3A, reply_word}, {0x3C, reply_word},
};
// clang-format on

}  // namespace

std::span<const HandlerRow> can_rows() {
  return kRows;
}

}  // namespace maltor::sim
