#include "update_log.h"

#include <charconv>

namespace maltor::tool {

namespace {

constexpr std::string_view kFinishedLine = "Firmware update is finished successfully.";
constexpr std::string_view kNotFinishedLine = "Firmware update is not finished successfuly.";
constexpr std::string_view kTransferredTail = "Transfered data";
// A failed start (logger) or announce (gateway) writes no trailer: its line
// is the last one of the update.
constexpr std::string_view kEarlyFailures[] = {"Reprogramming  start - Failed",
                                               "Reprogramming  preparation - Failed"};
constexpr std::string_view kBlockFailureTail = "CRC - Failed";

}  // namespace

void UpdateLogScanner::feed(std::string_view text) {
  partial_.append(text);
  std::size_t begin = 0;
  for (std::size_t end = partial_.find('\n'); end != std::string::npos;
       end = partial_.find('\n', begin)) {
    std::string_view line(partial_.data() + begin, end - begin);
    while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    take_line(line);
    begin = end + 1;
  }
  partial_.erase(0, begin);
}

void UpdateLogScanner::take_line(std::string_view line) {
  if (state_.end != UpdateEnd::kRunning) return;  // a later update's lines
  if (line == kFinishedLine) {
    state_.end = UpdateEnd::kFinished;
  } else if (line == kNotFinishedLine) {
    state_.end = UpdateEnd::kNotFinished;
  } else if (line.ends_with(kTransferredTail)) {
    std::uint64_t count = 0;
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), count);
    if (error == std::errc{} && end != line.data()) state_.transferred = count;
  } else if (line.ends_with(kBlockFailureTail)) {
    state_.failure = line;
  } else {
    for (const std::string_view failure : kEarlyFailures) {
      if (line == failure) {
        state_.failure = line;
        state_.end = UpdateEnd::kNotFinished;
      }
    }
  }
}

}  // namespace maltor::tool
