// Lines of the progress logs and the configuration log. Each line is built
// in full and written with one write call through a text-mode file, so every
// "\n" reaches the disk as CR LF.
#pragma once

#include <cstdint>
#include <string>

#include "platform/os.h"

namespace maltor::update {

// Texts are padded with spaces to this width before a value that follows.
inline constexpr std::size_t kLogLineWidth = 50;

// Appends spaces until `line` is kLogLineWidth characters long.
void pad_to_log_width(std::string& line);
// 93 asterisks and "\r\n".
std::string banner_line();
// The current local time in the C library's ctime form, ending in "\n".
std::string local_time_line();

// Writes one line and flushes it, so the log keeps what happened even when
// the process ends unexpectedly. False when the line did not all reach the
// file; the calling thread's error detail then says why, unless it already
// held an earlier failure.
bool write_log_line(platform::File& log, const std::string& line);

// The header both updates write at their start: an empty line, the banner,
// the title with the start time, and the size with the firmware path.
void write_log_header(platform::File& log, const char* title, std::uint64_t size,
                      const std::string& path);
// The trailer: the acknowledged byte count and whether the update finished.
void write_log_trailer(platform::File& log, std::uint32_t acknowledged, bool finished);

}  // namespace maltor::update
