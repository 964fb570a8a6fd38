// CAN frames as text, in the notation of the Linux can-utils: "123#DEADBEEF"
// to send, one candump-like line per received frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MaltorUSBdrv.h"

namespace maltor::tool {

struct CanFrameText {
  std::uint32_t identifier = 0;
  std::vector<std::uint8_t> data;  // at most MALTOR_CAN_MAX_DATA bytes
};

// Parses "ID#DATA": ID is 1 to 3 hex digits (standard, up to 7FF) or 4 to 8
// (extended, up to 1FFFFFFF); DATA is 0 to 64 bytes as pairs of hex digits,
// optionally separated by dots ("11.22.33"). Throws ToolError(kExitUsage).
CanFrameText parse_can_frame(std::string_view text);

// "123" for a standard identifier, "1F334455" for an extended one.
std::string format_can_identifier(std::uint32_t identifier);

// "7E0#DEADBEEF".
std::string format_can_frame(std::uint32_t identifier, std::span<const std::uint8_t> data);

// The data bytes of a received or sent record; its length is capped at
// MALTOR_CAN_MAX_DATA.
std::span<const std::uint8_t> can_data(const MaltorCanMessage& message);

// One received frame, as candump -ta prints it, plus the two fields the device
// adds: "(1728053248.123456)  bus0  7E0   [4]  DE AD BE EF  attr 0x00 word 0x00000001".
std::string format_can_dump_line(std::int64_t unix_microseconds, const MaltorCanMessage& message);

// One received frame as a line of a candump log file (candump -l, read by
// canplayer and python-can's log reader): "(1728053248.123456) can0 7E0#DEADBEEF".
// Frames of more than 8 bytes are written as CAN FD frames ("7E0##0...").
std::string format_candump_log_line(std::int64_t unix_microseconds,
                                    const MaltorCanMessage& message);

// A receive filter as candump takes it: "ID:MASK" passes a frame whose
// identifier matches ID in the bits MASK has set.
struct CanFilter {
  std::uint32_t identifier = 0;
  std::uint32_t mask = 0;
  bool passes(std::uint32_t frame_identifier) const {
    return (frame_identifier & mask) == (identifier & mask);
  }
};

// Parses "ID:MASK", both in hex, each at most 1FFFFFFF. Throws ToolError(kExitUsage).
CanFilter parse_can_filter(std::string_view text);

}  // namespace maltor::tool
