// CAN commands of the virtual device.
//
// Reply words of the per-bus commands: bits 0-15 the bus number, bit 16 the
// bus is open, bit 17 it is on (after the command); bit 31 alone with the bus
// number when the device has no such bus. The interface switches answer 1
// when the interface is on after the command, else 0.
#include <cstring>

#include "sim/model/can_state.h"
#include "sim/model/command_handlers.h"
#include "sim/model/device_model.h"

namespace maltor::sim {

namespace {

constexpr std::uint32_t kNoSuchBus = 0x8000'0000;

CanState& can(DeviceModel& m) {
  return m.content().can;
}

std::uint16_t bus_number(const Request& r) {
  return r.payload_length() >= 2 ? get16(r.payload()) : 0;
}

std::uint32_t bus_word(std::uint16_t number, const CanBus& bus) {
  return number | (bus.open ? 1u << 16 : 0) | (bus.on ? 1u << 17 : 0);
}

// The shared shape of the per-bus commands: find the bus, change it, answer
// its state word.
template <typename Change>
std::uint32_t per_bus(DeviceModel& m, const Request& r, std::uint8_t* data, Change change) {
  const std::uint16_t number = bus_number(r);
  CanBus* bus = can(m).bus(number);
  if (bus == nullptr) {
    put32(data, kNoSuchBus | number);
    return 4;
  }
  change(*bus);
  put32(data, bus_word(number, *bus));
  return 4;
}

std::uint32_t init_bus(DeviceModel& m, const Request& r, std::uint8_t*) {
  if (r.payload_length() >= sizeof can(m).setup_record) {
    std::memcpy(can(m).setup_record, r.payload(), sizeof can(m).setup_record);
    can(m).set_up = true;
  }
  return 0;
}

std::uint32_t deinit_bus(DeviceModel& m, const Request&, std::uint8_t*) {
  can(m).set_up = false;
  return 0;
}

std::uint32_t interface_enable(DeviceModel& m, const Request&, std::uint8_t* data) {
  can(m).interface_enabled = true;
  put32(data, 1);
  return 4;
}

std::uint32_t interface_disable(DeviceModel& m, const Request&, std::uint8_t* data) {
  can(m).interface_enabled = false;
  put32(data, 0);
  return 4;
}

std::uint32_t bus_count(DeviceModel&, const Request&, std::uint8_t* data) {
  data[0] = static_cast<std::uint8_t>(kCanBusCount);
  return 1;
}

std::uint32_t bus_open(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return per_bus(m, r, data, [&](CanBus& bus) {
    bus.open = true;
    bus.open_option = r.payload_length() >= 3 ? r.payload()[2] : 0;
  });
}

std::uint32_t bus_close(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return per_bus(m, r, data, [](CanBus& bus) {
    bus.open = bus.on = false;
    bus.clear();
  });
}

std::uint32_t bus_on(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return per_bus(m, r, data, [](CanBus& bus) { bus.on = true; });
}

std::uint32_t bus_off(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return per_bus(m, r, data, [](CanBus& bus) { bus.on = false; });
}

void read_parameters(const Request& r, CanParameters& into) {
  if (r.payload_length() < 10) return;
  into.word = get32(r.payload() + 2);
  std::memcpy(into.bytes, r.payload() + 6, 4);
}

std::uint32_t parameter_set(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return per_bus(m, r, data, [&](CanBus& bus) { read_parameters(r, bus.parameters); });
}

std::uint32_t data_parameter_set(DeviceModel& m, const Request& r, std::uint8_t* data) {
  return per_bus(m, r, data, [&](CanBus& bus) { read_parameters(r, bus.data_parameters); });
}

// A made-up identifier per bus and option byte.
std::uint32_t block_uid(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const std::uint16_t number = bus_number(r);
  if (can(m).bus(number) == nullptr) {
    put32(data, kNoSuchBus | number);
    return 4;
  }
  const std::uint8_t option = r.payload_length() >= 3 ? r.payload()[2] : 0;
  put32(data, 0xC0DE'0000u | static_cast<std::uint32_t>(number) << 8 | option);
  return 4;
}

// Send: bus, attribute, length, identifier, returned word, data. Answers a
// status byte (0 sent, 1 no such bus, 2 malformed) and the frame's returned
// word; a sent frame comes back on the same bus's receive queue.
std::uint32_t can_tx(DeviceModel& m, const Request& r, std::uint8_t* data) {
  const std::uint8_t* p = r.payload();
  std::uint8_t status = 0;
  std::uint32_t word = 0;
  if (r.payload_length() < 11 || p[2] > kCanMaxData || r.payload_length() != 11u + p[2]) {
    status = 2;
  } else if (CanBus* bus = can(m).bus(p[0]); bus == nullptr) {
    status = 1;
  } else {
    CanFrame frame;
    frame.attribute = p[1];
    frame.length = p[2];
    frame.identifier = get32(p + 3);
    std::memcpy(frame.data, p + 11, frame.length);
    frame.returned_word = word = can(m).stamp();
    bus->push(frame);  // a full queue loses the echo, as an overrun would
  }
  data[0] = status;
  put32(data + 1, word);
  return 5;
}

// Receive poll: bus, timeout (ignored: the device answers at once). Reply
// data: count (2 bytes), then the frame image: bus, attribute, length,
// identifier, returned word, data bytes 0-7, the device's millisecond time,
// data bytes 8-63.
std::uint32_t can_rx(DeviceModel& m, const Request& r, std::uint8_t* data) {
  CanState& state = can(m);
  if (state.rx_mode == CanRxMode::kSilent) return kNoAnswer;
  constexpr std::uint32_t kLength = 2 + 79;
  std::memset(data, 0, kLength);
  if (state.rx_mode == CanRxMode::kCount) {
    put16(data, state.forced_count);
    return kLength;
  }
  const std::uint8_t number = r.payload_length() >= 1 ? r.payload()[0] : 0;
  CanBus* bus = state.bus(number);
  CanFrame frame;
  if (bus == nullptr || !bus->pop(&frame)) return kLength;  // count 0
  put16(data, 1);
  std::uint8_t* image = data + 2;
  image[0] = number;
  image[1] = frame.attribute;
  image[2] = frame.length;
  put32(image + 3, frame.identifier);
  put32(image + 7, frame.returned_word);
  std::memcpy(image + 11, frame.data, 8);
  put32(image + 19, static_cast<std::uint32_t>(m.now_ms()));
  std::memcpy(image + 23, frame.data + 8, kCanMaxData - 8);
  return kLength;
}

// clang-format off
constexpr HandlerRow kRows[] = {
  {0x1D, init_bus},          {0x1E, can_tx},             {0x1F, can_rx},
  {0x20, deinit_bus},        {0x31, interface_enable},   {0x32, interface_disable},
  {0x33, bus_count},         {0x34, bus_open},           {0x35, bus_close},
  {0x36, bus_on},            {0x37, bus_off},            {0x38, parameter_set},
  {0x3A, data_parameter_set}, {0x3C, block_uid},
};
// clang-format on

}  // namespace

std::span<const HandlerRow> can_rows() {
  return kRows;
}

}  // namespace maltor::sim
