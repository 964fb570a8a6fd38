// A progress display for long transfers, on stderr so that stdout carries
// only results: one line redrawn in place on a terminal, or a plain line
// every tenth of the way when stderr is a pipe or a file. Nothing with --quiet.
//
//   ProgressBar bar("download", total_bytes, ProgressUnit::kBytes);
//   while (...) { ...; bar.update(done); }
//   bar.finish();
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace maltor::tool {

// kPercent counts 0 to 100 and shows only the bar, the percentage and the
// time left; kElapsed counts nothing and shows only the time spent.
enum class ProgressUnit { kBytes, kItems, kPercent, kElapsed };

struct ProgressSnapshot {
  std::uint64_t done = 0;
  std::uint64_t total = 0;  // 0: unknown, no bar, percentage or time left
  double elapsed_seconds = 0;
  ProgressUnit unit = ProgressUnit::kBytes;
};

// "512 B", "1.5 KiB", "12.0 MiB" for bytes; the plain count otherwise.
std::string format_amount(std::uint64_t value, ProgressUnit unit);

// "0:07", "12:34", "1:02:03"; "--:--" when not known (negative or too large).
std::string format_duration(double seconds);

// "label [#####-----]  50%  1.0 MiB / 2.0 MiB  512.0 KiB/s  0:02 left";
// "label [#####-----]  50%  0:02 left" in percent; "label  0:02 elapsed".
// A bar width of 0 leaves the bar out.
std::string format_progress_line(const std::string& label, const ProgressSnapshot& snapshot,
                                 int bar_width);

class ProgressBar {
 public:
  using Clock = std::chrono::steady_clock;

  ProgressBar(std::string label, std::uint64_t total, ProgressUnit unit, std::FILE* out = stderr);
  // `redraw` chooses the one-line terminal display over plain lines.
  ProgressBar(std::string label, std::uint64_t total, ProgressUnit unit, std::FILE* out,
              bool redraw);
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  // Ends the line if finish() was not called (an error or Ctrl-C cut the work short).
  ~ProgressBar();

  void update(std::uint64_t done) { update(done, Clock::now()); }
  void update(std::uint64_t done, Clock::time_point now);
  // Shows the final state and ends the line.
  void finish() { finish(Clock::now()); }
  void finish(Clock::time_point now);

 private:
  void draw(Clock::time_point now);

  std::string label_;
  std::uint64_t total_;
  ProgressUnit unit_;
  std::FILE* out_;
  bool redraw_;
  Clock::time_point start_;
  Clock::time_point last_draw_{};
  std::uint64_t done_ = 0;
  int last_tenth_ = -1;
  std::size_t last_length_ = 0;
  bool drawn_ = false;
  bool finished_ = false;
  bool silent_ = false;
};

}  // namespace maltor::tool
