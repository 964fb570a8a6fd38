#include "output.h"

#include <algorithm>
#include <cstdio>

namespace maltor::tool {

std::string hex(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string hex_dump(std::span<const std::uint8_t> bytes, std::size_t base) {
  std::string out;
  char cell[16];
  for (std::size_t line = 0; line < bytes.size(); line += 16) {
    std::snprintf(cell, sizeof cell, "%04zx ", base + line);
    out += cell;
    std::string ascii;
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i < bytes.size()) {
        std::snprintf(cell, sizeof cell, " %02x", bytes[i]);
        out += cell;
        ascii += bytes[i] >= 0x20 && bytes[i] < 0x7f ? static_cast<char>(bytes[i]) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + ascii + "|\n";
  }
  return out;
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0
// when its first byte does not begin one (overlong forms and surrogates
// included).
std::size_t utf8_sequence(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string json_quote(std::string_view text) {
  std::string out = "\"";
  char escape[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      // Well-formed UTF-8 passes as it is; any other byte is escaped as the
      // character of the same number, so the text stays valid UTF-8.
      if (const std::size_t length = utf8_sequence(text.substr(i)); length > 0) {
        out.append(text.substr(i, length));
        i += length - 1;
      } else {
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
        out += escape;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
          out += escape;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!has_element_.empty()) {
    if (has_element_.back()) text_ += ',';
    has_element_.back() = true;
  }
}

JsonWriter& JsonWriter::begin_object() {
  before_value();
  text_ += '{';
  has_element_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  text_ += '}';
  has_element_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::begin_array() {
  before_value();
  text_ += '[';
  has_element_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  text_ += ']';
  has_element_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  text_ += json_quote(name) + ':';
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  before_value();
  text_ += json_quote(text);
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
  before_value();
  text_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(std::uint64_t number) {
  before_value();
  text_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  before_value();
  text_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  text_ += "null";
  return *this;
}

}  // namespace maltor::tool

namespace maltor::tool {

std::string hex_string(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::optional<std::string> printable_text(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    if (byte == 0) break;
    if (byte < 0x20 || byte >= 0x7F) return std::nullopt;
    text += static_cast<char>(byte);
  }
  return text;
}

std::string describe_block(std::span<const std::uint8_t> bytes) {
  if (const auto text = printable_text(bytes)) return "\"" + *text + "\"";
  std::size_t used = bytes.size();
  while (used > 0 && bytes[used - 1] == 0) --used;
  return hex_string(bytes.first(used));
}

std::string format_number_ranges(std::span<const unsigned> numbers) {
  std::string out;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t last = i;
    while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) ++last;
    if (!out.empty()) out += ", ";
    out += std::to_string(numbers[i]);
    if (last > i) {
      // Appended piecewise: GCC 12 misreports "-" + std::string as an
      // overlapping copy (-Wrestrict) when optimising.
      out += '-';
      out += std::to_string(numbers[last]);
    }
    i = last + 1;
  }
  return out;
}

std::string format_table(std::span<const TableColumn> columns,
                         const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const TableColumn& column : columns) widths.push_back(column.header.size());
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  const auto line = [&](const auto& cell_at, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string_view cell = cell_at(i);
      const std::string pad(widths[i] - cell.size(), ' ');
      if (i > 0) out += "  ";
      if (columns[i].align_right) {
        out += pad;
        out += cell;
      } else {
        out += cell;
        if (i + 1 < count) out += pad;
      }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out + "\n";
  };
  std::string out = line([&](std::size_t i) { return columns[i].header; }, columns.size());
  for (const auto& row : rows) {
    out += line([&](std::size_t i) { return std::string_view(row[i]); },
                std::min(row.size(), columns.size()));
  }
  return out;
}

}  // namespace maltor::tool
