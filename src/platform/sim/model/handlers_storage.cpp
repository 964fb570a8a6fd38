// Card catalogue, formatting and Mirel frames of the virtual device.
#include <cstring>

#include "platform/sim/model/command_handlers.h"
#include "platform/sim/model/device_model.h"

namespace maltor::sim {

namespace {

std::uint32_t log_count(DeviceModel& m, const Request&, std::uint8_t* data) {
  put16(data, static_cast<std::uint16_t>(m.content().log_count));
  return 2;
}

std::uint32_t log_info(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const DeviceContent& c = m.content();
  const std::uint32_t index = r.payload_length() >= 2 ? get16(r.payload()) : 0;
  std::memset(data, 0, 300);
  const std::uint32_t sectors = 2048;
  put32(data + 0, index);                                    // log number
  put32(data + 4, 2048 + index * sectors);                   // first sector
  put32(data + 8, 2048 + (index + 1) * sectors - 1);         // last sector
  put32(data + 12, sectors * 512);                           // size in bytes
  put32(data + 16, c.clock - 3600 * (c.log_count - index));  // start time
  put32(data + 20, 3600);                                    // duration
  put32(data + 24, index % 4);                               // partition
  std::memcpy(data + 28, "MALTOR-LOG", 10);
  data[44] = static_cast<std::uint8_t>('A' + index % 26);
  data[299] = 0x5A;
  return 300;
}

std::uint32_t current_sector(DeviceModel& m, const Request&, std::uint8_t* data) {
  put32(data, m.content().current_sector);
  return 4;
}

std::uint32_t format_card(DeviceModel& m, const Request&, std::uint8_t* data) {
  m.content().log_count = 0;
  put16(data, 0);
  return 2;
}

// clang-format off
constexpr HandlerRow kRows[] = {
  {0x0E, format_card},  {0x0F, log_count},         {0x10, log_info},
  {0x17, current_sector},
  {0x25, log_count},    {0x26, log_info},          {0x28, format_card},
};
// clang-format on

}  // namespace

std::span<const HandlerRow> storage_rows() {
  return kRows;
}

// Mirel frames and the short firmware-version frame: not answered yet.
bool storage_layouts(DeviceModel&, const std::uint8_t*, std::uint32_t) {
  return false;
}

}  // namespace maltor::sim
