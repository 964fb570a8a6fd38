#include "update/progress_log.h"

#include "link/error_detail.h"
#include "platform/clock.h"

namespace maltor::update {

void pad_to_log_width(std::string& line) {
  if (line.size() < kLogLineWidth) line.append(kLogLineWidth - line.size(), ' ');
}

std::string banner_line() {
  return std::string(93, '*') + "\r\n";
}

std::string local_time_line() {
  char text[26];
  platform::local_time_text(platform::now_seconds(), text);
  return text;
}

bool write_log_line(platform::File& log, const std::string& line) {
  const std::size_t taken = log.write(line.data(), line.size());
  if (taken == line.size() && log.flush()) return true;
  // The first failure is the one worth telling; the log's later lines fail alike.
  if (detail::current().kind == detail::kNone) {
    detail::file_failure(0, detail::FileStep::kWrite, log, "the log", taken, line.size());
  }
  return false;
}

void write_log_header(platform::File& log, const char* title, std::uint64_t size,
                      const std::string& path) {
  write_log_line(log, "\r\n");
  write_log_line(log, banner_line());
  std::string line = title;
  pad_to_log_width(line);
  write_log_line(log, line + local_time_line());
  line = std::to_string(size) + " bytes";
  pad_to_log_width(line);
  write_log_line(log, line + path + "\r\n");
}

void write_log_trailer(platform::File& log, std::uint32_t acknowledged, bool finished) {
  std::string line = std::to_string(acknowledged) + " bytes";
  pad_to_log_width(line);
  write_log_line(log, line + "Transfered data\r\n");
  write_log_line(log, finished ? "Firmware update is finished successfully.\r\n"
                               : "Firmware update is not finished successfuly.\r\n");
}

}  // namespace maltor::update
