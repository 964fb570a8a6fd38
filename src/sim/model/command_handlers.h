// How the virtual device answers frames written on the command pipe.
//
// Standard frames (sequence byte, length, code, 0, payload, sum) go to one
// row per command code; each subsystem's rows live in a file of their own
// (handlers_*.cpp). Frames of other layouts (Mirel, logger, gateway) are
// offered to each family's layout handler in turn.
#pragma once

#include <cstdint>
#include <span>

#include "sim/model/device_content.h"

namespace maltor::sim {

class DeviceModel;

// A standard request as a handler sees it.
struct Request {
  const std::uint8_t* frame;
  std::uint32_t length;
  const std::uint8_t* payload() const { return frame + 5; }
  std::uint32_t payload_length() const { return length - 6; }
};

// Writes the reply's data from reply byte 5 on and returns the data length,
// or kNoAnswer when the device sends no reply to this frame.
inline constexpr std::uint32_t kNoAnswer = 0xFFFFFFFF;
using Handler = std::uint32_t (*)(DeviceModel& model, const Request& request, std::uint8_t* data);

struct HandlerRow {
  std::uint8_t code;
  Handler handler;
};

// Answers a frame of a non-standard layout; false when it is not one of its own.
using LayoutHandler = bool (*)(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length);

// Each family's rows and layout handler.
std::span<const HandlerRow> device_rows();
std::span<const HandlerRow> storage_rows();
std::span<const HandlerRow> download_rows();
std::span<const HandlerRow> live_rows();
std::span<const HandlerRow> can_rows();
std::span<const HandlerRow> transfer_rows();
bool storage_layouts(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length);
bool update_layouts(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length);

// Little-endian helpers shared by the handlers.
std::uint8_t sum8(const std::uint8_t* bytes, std::uint32_t length);
inline std::uint16_t get16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
inline void put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct CommandHandlers {
  // Answers one frame written on the command OUT pipe.
  static void dispatch(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length);
};

}  // namespace maltor::sim
