// Text output helpers: hex dumps, fixed-width hex numbers and JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace maltor::tool {

// "0x" and `digits` upper-case hex digits.
std::string hex(std::uint64_t value, int digits);

// 16 bytes a line: "0010  01 02 ... 0f  |..ab............|"; offsets start at `base`.
std::string hex_dump(std::span<const std::uint8_t> bytes, std::size_t base = 0);

// Builds compact JSON text. Commas and nesting are tracked here; the caller
// only says what comes next.
//
//   JsonWriter json;
//   json.begin_object().key("kind").value(1).key("speed").value("high").end_object();
//   std::puts(json.text().c_str());
class JsonWriter {
 public:
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(std::int64_t number);
  JsonWriter& value(std::uint64_t number);
  JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
  JsonWriter& value(unsigned number) { return value(static_cast<std::uint64_t>(number)); }
  JsonWriter& value(bool flag);
  JsonWriter& null();
  // The value, or null when there is none.
  template <typename T>
  JsonWriter& value_or_null(const std::optional<T>& maybe) {
    return maybe ? value(*maybe) : null();
  }

  const std::string& text() const { return text_; }

 private:
  void before_value();

  std::string text_;
  // One entry per open object or array: whether it already holds an element.
  std::vector<bool> has_element_;
  bool after_key_ = false;
};

// The bytes as upper-case hex digits with nothing between them: "DEADBEEF".
std::string hex_string(std::span<const std::uint8_t> bytes);

// The bytes up to the first 0 (or all of them) as text, when each of them is a
// printable ASCII character; nullopt otherwise. An all-zero block is "".
std::optional<std::string> printable_text(std::span<const std::uint8_t> bytes);

// A block the device fills as it likes: its text in quotes when it reads as
// text (see printable_text), else its bytes in hex without trailing zeros.
std::string describe_block(std::span<const std::uint8_t> bytes);

// Numbers in ascending order as ranges: "0, 2-5, 9".
std::string format_number_ranges(std::span<const unsigned> numbers);

// A text table: a header line, then one line per row; each column padded to
// its widest cell, columns two blanks apart, no blanks at a line's end.
struct TableColumn {
  std::string_view header;
  bool align_right = false;
};
std::string format_table(std::span<const TableColumn> columns,
                         const std::vector<std::vector<std::string>>& rows);

// `text` as a JSON string literal, quotes included.
std::string json_quote(std::string_view text);

}  // namespace maltor::tool
