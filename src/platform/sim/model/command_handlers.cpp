#include "platform/sim/model/command_handlers.h"

#include <cstring>

#include "platform/sim/model/device_model.h"

namespace maltor::sim {

namespace {

std::uint8_t sum8(const std::uint8_t* bytes, std::uint32_t length) {
  std::uint8_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + bytes[i]);
  return sum;
}

std::uint16_t u16_at(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
std::uint32_t u32_at(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
void put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
void put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A standard request as the handlers see it.
struct Request {
  const std::uint8_t* frame;
  std::uint32_t length;
  const std::uint8_t* payload() const { return frame + 5; }
  std::uint32_t payload_length() const { return length - 6; }
};

// Handlers write data from reply byte 5 on and return the data length.
using Handler = std::uint32_t (*)(DeviceContent& content, const Request& request,
                                  std::uint8_t* data);

}  // namespace

// Handlers need the model's stream state; they are members of this helper
// through these static functions.
struct StreamControl {
  static void start_sectors(DeviceModel& model, std::uint32_t first, std::uint32_t last);
  static void stop(DeviceModel& model);
  static void live(DeviceModel& model, bool on);
};

namespace {

std::uint32_t no_data(DeviceContent&, const Request&, std::uint8_t*) { return 0; }

std::uint32_t firmware_version(DeviceContent& c, const Request&, std::uint8_t* data) {
  put16(data, c.firmware_word);
  std::memcpy(data + 2, c.firmware_bytes, 3);
  return 9;
}

std::uint32_t config_info(DeviceContent& c, const Request&, std::uint8_t* data) {
  std::memcpy(data, c.config_tag, 16);
  put32(data + 16, c.config_size);
  return 20;
}

std::uint32_t log_count(DeviceContent& c, const Request&, std::uint8_t* data) {
  put16(data, static_cast<std::uint16_t>(c.log_count));
  return 2;
}

std::uint32_t log_info(DeviceContent& c, const Request& r, std::uint8_t* data) {
  const std::uint32_t index = r.payload_length() >= 2 ? u16_at(r.payload()) : 0;
  std::memset(data, 0, 300);
  const std::uint32_t sectors = 2048;
  put32(data + 0, index);                        // log number
  put32(data + 4, 2048 + index * sectors);       // first sector
  put32(data + 8, 2048 + (index + 1) * sectors - 1);  // last sector
  put32(data + 12, sectors * 512);               // size in bytes
  put32(data + 16, c.clock - 3600 * (c.log_count - index));  // start time
  put32(data + 20, 3600);                        // duration
  put32(data + 24, index % 4);                   // partition
  std::memcpy(data + 28, "MALTOR-LOG", 10);
  data[44] = static_cast<std::uint8_t>('A' + index % 26);
  data[299] = 0x5A;
  return 300;
}

std::uint32_t get_date_time(DeviceContent& c, const Request&, std::uint8_t* data) {
  put32(data, c.clock);
  return 4;
}

std::uint32_t set_date_time(DeviceContent& c, const Request& r, std::uint8_t*) {
  if (r.payload_length() >= 4) c.clock = u32_at(r.payload());
  return 0;
}

std::uint32_t get_serial(DeviceContent& c, const Request&, std::uint8_t* data) {
  std::memcpy(data, c.serial, 128);
  return 128;
}

std::uint32_t set_serial(DeviceContent& c, const Request& r, std::uint8_t*) {
  if (r.payload_length() < 1) return 0;
  std::uint32_t n = r.payload()[0];
  if (n > r.payload_length() - 1) n = r.payload_length() - 1;
  std::memset(c.serial, 0, sizeof c.serial);
  std::memcpy(c.serial, r.payload() + 1, n < 128 ? n : 128);
  return 0;
}

std::uint32_t current_sector(DeviceContent& c, const Request&, std::uint8_t* data) {
  put32(data, c.current_sector);
  return 4;
}

std::uint32_t mmc_info(DeviceContent& c, const Request&, std::uint8_t* data) {
  std::memcpy(data, c.mmc_info, 17);
  return 17;
}

std::uint32_t get_hw_settings(DeviceContent& c, const Request&, std::uint8_t* data) {
  std::memcpy(data, c.hw_settings, 128);
  return 128;
}

std::uint32_t set_hw_settings(DeviceContent& c, const Request& r, std::uint8_t*) {
  if (r.payload_length() < 3) return 0;
  std::uint32_t n = r.payload()[2];
  if (n > r.payload_length() - 3) n = r.payload_length() - 3;
  std::memcpy(c.hw_settings, r.payload() + 3, n < 128 ? n : 128);
  return 0;
}

std::uint32_t eeprom_page(DeviceContent& c, const Request& r, std::uint8_t* data) {
  const std::uint8_t page = r.payload_length() >= 1 ? r.payload()[0] : 0;
  std::memcpy(data, c.eeprom[page], 64);
  return 64;
}

std::uint32_t store_eeprom(DeviceContent&, const Request&, std::uint8_t* data) {
  data[0] = 0;  // stored
  return 1;
}

std::uint32_t maltor_info(DeviceContent& c, const Request&, std::uint8_t* data) {
  data[0] = c.info_byte;
  data[1] = c.info_value;
  std::memset(data + 2, 0, 9);
  return 11;
}

std::uint32_t get_single_setting(DeviceContent& c, const Request& r, std::uint8_t* data) {
  const std::uint16_t number = r.payload_length() >= 2 ? u16_at(r.payload()) : 0;
  put16(data, c.single_settings[number & 0xFF]);
  return 2;
}

std::uint32_t set_single_setting(DeviceContent& c, const Request& r, std::uint8_t*) {
  if (r.payload_length() >= 4) c.single_settings[u16_at(r.payload()) & 0xFF] = u16_at(r.payload() + 2);
  return 0;
}

std::uint32_t micro_type(DeviceContent& c, const Request&, std::uint8_t* data) {
  data[0] = c.micro_type;
  return 1;
}

std::uint32_t format_card(DeviceContent& c, const Request&, std::uint8_t* data) {
  c.log_count = 0;
  put16(data, 0);
  return 2;
}

std::uint32_t reply_word(DeviceContent&, const Request& r, std::uint8_t* data) {
  // CAN family: a 32-bit reply word; the bus number (if any) comes back in it.
  put32(data, r.payload_length() >= 2 ? 0x100u + u16_at(r.payload()) : 0x100u);
  return 4;
}

std::uint32_t one_byte(DeviceContent&, const Request&, std::uint8_t* data) {
  data[0] = 2;
  return 1;
}

struct Row {
  std::uint8_t code;
  Handler handler;
};

// clang-format off
constexpr Row kRows[] = {
  {0x02, firmware_version}, {0x0A, config_info},     {0x0E, format_card},
  {0x0F, log_count},        {0x10, log_info},        {0x11, get_date_time},
  {0x12, set_date_time},    {0x13, no_data},         {0x14, no_data},
  {0x15, get_serial},       {0x16, set_serial},      {0x17, current_sector},
  {0x19, one_byte},         {0x1A, one_byte},        {0x1B, mmc_info},
  {0x1D, no_data},          {0x20, no_data},         {0x21, set_hw_settings},
  {0x22, get_hw_settings},  {0x23, eeprom_page},     {0x24, store_eeprom},
  {0x25, log_count},        {0x26, log_info},        {0x27, maltor_info},
  {0x28, format_card},      {0x2C, set_single_setting}, {0x2D, get_single_setting},
  {0x2E, micro_type},       {0x2F, no_data},         {0x30, no_data},
  {0x31, reply_word},       {0x32, reply_word},      {0x33, one_byte},
  {0x34, reply_word},       {0x35, reply_word},      {0x36, reply_word},
  {0x37, reply_word},       {0x38, reply_word},      {0x3A, reply_word},
  {0x3C, reply_word},
};
// clang-format on

Handler find_handler(std::uint8_t code) {
  for (const Row& row : kRows) {
    if (row.code == code) return row.handler;
  }
  return nullptr;
}

bool is_standard_frame(const std::uint8_t* frame, std::uint32_t length) {
  return length >= 6 && u16_at(frame + 1) == length && frame[4] == 0 &&
         frame[length - 1] == sum8(frame, length - 1);
}

}  // namespace

void StreamControl::start_sectors(DeviceModel& model, std::uint32_t first, std::uint32_t last) {
  const std::uint32_t bytes = (last - first + 1) * 512u;  // the device wraps like the host
  model.stream_offset_ = static_cast<std::uint64_t>(first) * 512;
  model.stream_remaining_ = bytes;
}

void StreamControl::stop(DeviceModel& model) { model.stream_remaining_ = 0; }

void StreamControl::live(DeviceModel& model, bool on) {
  model.live_running_ = on;
  model.live_ready_ = 0;
  model.live_next_ms_ = model.now_ms_ + 10;
}

void CommandHandlers::dispatch(DeviceModel& model, const std::uint8_t* frame,
                               std::uint32_t length) {
  if (!is_standard_frame(frame, length)) return;  // other layouts: not answered yet
  const Handler handler = find_handler(frame[3]);
  if (handler == nullptr) return;

  std::uint8_t* reply = model.scratch_;
  const Request request{frame, length};
  const std::uint32_t data_length = handler(model.content(), request, reply + 5);
  const std::uint32_t reply_length = data_length + 6;
  reply[0] = frame[0];
  put16(reply + 1, reply_length);
  reply[3] = frame[3];
  reply[4] = 0;
  reply[reply_length - 1] = sum8(reply, reply_length - 1);

  switch (frame[3]) {
    case 0x13:
      StreamControl::start_sectors(model, u32_at(frame + 5), u32_at(frame + 9));
      break;
    case 0x14:
      StreamControl::stop(model);
      break;
    case 0x19:
      StreamControl::live(model, true);
      break;
    case 0x1A:
      StreamControl::live(model, false);
      break;
    default:
      break;
  }
  model.send_reply(reply, reply_length);
}

}  // namespace maltor::sim
