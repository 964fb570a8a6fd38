// Reading the progress log a firmware update appends to: its outcome is told
// by the log alone, since the library's status callback never reports a
// failure or a stop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace maltor::tool {

enum class UpdateEnd {
  kRunning,      // no end line yet
  kFinished,     // "Firmware update is finished successfully."
  kNotFinished,  // the not-finished line, or a failure that ends the log early
};

struct UpdateLogState {
  UpdateEnd end = UpdateEnd::kRunning;
  // The count of the "N bytes ... Transfered data" line, once written.
  std::optional<std::uint64_t> transferred;
  // The update's own failure line without its line end, e.g.
  // "Block 2 bytes    59  CRC - Failed"; empty when there is none.
  std::string failure;
};

// Takes the text the update appends, in pieces of any size, and keeps what
// its complete lines say. Lines may end in LF, CR LF or CR CR LF (the log is
// written in text mode).
class UpdateLogScanner {
 public:
  void feed(std::string_view text);
  const UpdateLogState& state() const { return state_; }

 private:
  void take_line(std::string_view line);

  std::string partial_;  // an unfinished last line
  UpdateLogState state_;
};

}  // namespace maltor::tool
