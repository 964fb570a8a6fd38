#include "can_frame.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "errors.h"
#include "output.h"

namespace maltor::tool {

namespace {

constexpr std::uint32_t kLastStandardId = 0x7FF;
constexpr std::uint32_t kLastExtendedId = 0x1FFFFFFF;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

ToolError frame_error(std::string_view text, const std::string& why) {
  return usage_error("CAN frame '" + std::string(text) + "': " + why +
                     " (expected ID#DATA, e.g. 123#DEADBEEF)");
}

}  // namespace

CanFrameText parse_can_frame(std::string_view text) {
  const std::size_t hash = text.find('#');
  if (hash == std::string_view::npos) throw frame_error(text, "no '#'");
  const std::string_view id_text = text.substr(0, hash);
  const std::string_view data_text = text.substr(hash + 1);

  CanFrameText frame;
  if (id_text.empty() || id_text.size() > 8)
    throw frame_error(text, "the ID needs 1 to 8 hex digits");
  for (const char c : id_text) {
    const int digit = hex_digit(c);
    if (digit < 0) throw frame_error(text, "the ID is not hexadecimal");
    frame.identifier = frame.identifier << 4 | static_cast<std::uint32_t>(digit);
  }
  // As in can-utils, the number of digits tells a standard ID from an extended one.
  const std::uint32_t last = id_text.size() <= 3 ? kLastStandardId : kLastExtendedId;
  if (frame.identifier > last) throw frame_error(text, "the ID is out of range");

  if (!data_text.empty() && (data_text[0] == '#' || data_text[0] == 'R' || data_text[0] == 'r')) {
    throw frame_error(text, "CAN FD flags and remote frames are not supported");
  }
  for (std::size_t i = 0; i < data_text.size();) {
    if (data_text[i] == '.') {
      ++i;
      continue;
    }
    const int high = hex_digit(data_text[i]);
    const int low = i + 1 < data_text.size() ? hex_digit(data_text[i + 1]) : -1;
    if (high < 0 || low < 0) throw frame_error(text, "the data must be pairs of hex digits");
    if (frame.data.size() == MALTOR_CAN_MAX_DATA) {
      throw frame_error(text, "more than " + std::to_string(MALTOR_CAN_MAX_DATA) + " data bytes");
    }
    frame.data.push_back(static_cast<std::uint8_t>(high << 4 | low));
    i += 2;
  }
  return frame;
}

std::string format_can_identifier(std::uint32_t identifier) {
  char text[16];
  if (identifier <= kLastStandardId) {
    std::snprintf(text, sizeof text, "%03X", static_cast<unsigned>(identifier));
  } else {
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(identifier));
  }
  return text;
}

std::string format_can_frame(std::uint32_t identifier, std::span<const std::uint8_t> data) {
  std::string text = format_can_identifier(identifier) + "#";
  char cell[4];
  for (const std::uint8_t byte : data) {
    std::snprintf(cell, sizeof cell, "%02X", byte);
    text += cell;
  }
  return text;
}

std::span<const std::uint8_t> can_data(const MaltorCanMessage& message) {
  return {message.data, std::min<std::size_t>(message.length, MALTOR_CAN_MAX_DATA)};
}

std::string format_can_dump_line(std::int64_t unix_microseconds, const MaltorCanMessage& message) {
  const std::span<const std::uint8_t> data = can_data(message);
  char head[96];
  std::snprintf(head, sizeof head, "(%lld.%06lld)  bus%u  %-8s  [%u] ",
                static_cast<long long>(unix_microseconds / 1000000),
                static_cast<long long>(unix_microseconds % 1000000), message.bus,
                format_can_identifier(message.identifier).c_str(), message.length);
  std::string line = head;
  char cell[4];
  for (const std::uint8_t byte : data) {
    std::snprintf(cell, sizeof cell, " %02X", byte);
    line += cell;
  }
  char tail[48];
  std::snprintf(tail, sizeof tail, "  attr 0x%02X word 0x%08X", message.attribute,
                static_cast<unsigned>(message.returned_word));
  return line + tail;
}

std::string format_candump_log_line(std::int64_t unix_microseconds,
                                    const MaltorCanMessage& message) {
  const std::span<const std::uint8_t> data = can_data(message);
  char head[64];
  std::snprintf(head, sizeof head, "(%010lld.%06lld) can%u ",
                static_cast<long long>(unix_microseconds / 1000000),
                static_cast<long long>(unix_microseconds % 1000000), message.bus);
  std::string line = head + format_can_identifier(message.identifier);
  // Classic frames carry up to 8 bytes; longer ones are CAN FD, no flags set.
  line += data.size() > 8 ? "##0" : "#";
  return line + hex_string(data);
}

CanFilter parse_can_filter(std::string_view text) {
  const std::size_t colon = text.find(':');
  const auto hex_field = [&](std::string_view field) {
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value, 16);
    if (field.empty() || error != std::errc{} || end != field.data() + field.size() ||
        value > 0x1FFFFFFF) {
      throw usage_error("can dump: filter '" + std::string(text) +
                        "': expected ID:MASK in hex, each at most 1FFFFFFF");
    }
    return value;
  };
  if (colon == std::string_view::npos) hex_field({});
  return {hex_field(text.substr(0, colon)), hex_field(text.substr(colon + 1))};
}

}  // namespace maltor::tool
