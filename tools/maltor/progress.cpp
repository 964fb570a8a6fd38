#include "progress.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "console.h"

namespace maltor::tool {

namespace {

constexpr int kBarWidth = 30;
// A terminal line is redrawn at most this often; more is flicker and wasted time.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string printf_string(const char* format, double value, const char* suffix) {
  char text[48];
  std::snprintf(text, sizeof text, format, value, suffix);
  return text;
}

}  // namespace

std::string format_amount(std::uint64_t value, ProgressUnit unit) {
  if (unit != ProgressUnit::kBytes) return std::to_string(value);
  if (value < 1024) return std::to_string(value) + " B";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double scaled = static_cast<double>(value) / 1024.0;
  std::size_t index = 0;
  while (scaled >= 1024.0 && index + 1 < std::size(kUnits)) {
    scaled /= 1024.0;
    ++index;
  }
  return printf_string("%.1f %s", scaled, kUnits[index]);
}

std::string format_duration(double seconds) {
  // Past 100 hours an estimate means nothing.
  if (!(seconds >= 0) || seconds > 100.0 * 3600.0) return "--:--";
  const auto total = static_cast<std::uint64_t>(std::llround(seconds));
  const std::uint64_t hours = total / 3600, minutes = total / 60 % 60, secs = total % 60;
  char text[32];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(hours),
                  static_cast<unsigned long long>(minutes), static_cast<unsigned long long>(secs));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(minutes),
                  static_cast<unsigned long long>(secs));
  }
  return text;
}

std::string format_progress_line(const std::string& label, const ProgressSnapshot& snapshot,
                                 int bar_width) {
  std::string line = label;
  if (snapshot.unit == ProgressUnit::kElapsed) {
    return line + "  " + format_duration(snapshot.elapsed_seconds) + " elapsed";
  }
  const bool counted = snapshot.unit != ProgressUnit::kPercent;
  const bool known_total = snapshot.total > 0;
  const double fraction =
      known_total
          ? std::min(1.0, static_cast<double>(snapshot.done) / static_cast<double>(snapshot.total))
          : 0.0;
  if (known_total && bar_width > 0) {
    const int filled = static_cast<int>(fraction * bar_width);
    line += " [" + std::string(static_cast<std::size_t>(filled), '#') +
            std::string(static_cast<std::size_t>(bar_width - filled), '-') + "]";
  }
  if (known_total) {
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100.0));
    line += std::string(" ") + percent;
  }
  if (counted) {
    line += "  " + format_amount(snapshot.done, snapshot.unit);
    if (known_total) line += " / " + format_amount(snapshot.total, snapshot.unit);
  }

  // Below a few milliseconds of elapsed time any rate is noise.
  if (snapshot.elapsed_seconds >= 0.005 && snapshot.done > 0) {
    const double rate = static_cast<double>(snapshot.done) / snapshot.elapsed_seconds;
    if (counted) {
      line += "  " + format_amount(static_cast<std::uint64_t>(rate), snapshot.unit) + "/s";
    }
    if (known_total) {
      const std::uint64_t left =
          snapshot.total > snapshot.done ? snapshot.total - snapshot.done : 0;
      line += "  " + format_duration(static_cast<double>(left) / rate) + " left";
    }
  }
  return line;
}

ProgressBar::ProgressBar(std::string label, std::uint64_t total, ProgressUnit unit, std::FILE* out)
    : ProgressBar(std::move(label), total, unit, out, is_terminal(out)) {
  // The two-argument form is the tool's own display, which --quiet silences.
  silent_ = quiet();
}

ProgressBar::ProgressBar(std::string label, std::uint64_t total, ProgressUnit unit, std::FILE* out,
                         bool redraw)
    : label_(std::move(label)),
      total_(total),
      unit_(unit),
      out_(out),
      redraw_(redraw),
      start_(Clock::now()) {}

ProgressBar::~ProgressBar() {
  if (!finished_ && drawn_ && redraw_) std::fputc('\n', out_);
}

void ProgressBar::update(std::uint64_t done, Clock::time_point now) {
  done_ = done;
  if (silent_) return;
  if (redraw_) {
    if (drawn_ && now - last_draw_ < kRedrawInterval) return;
  } else {
    // Plain output: a line per tenth of the way. Without a total, a line per
    // call would flood a log, so only finish() prints.
    if (total_ == 0) return;
    const int tenth = static_cast<int>(std::min<std::uint64_t>(done, total_) * 10 / total_);
    if (tenth == last_tenth_) return;
    last_tenth_ = tenth;
  }
  draw(now);
}

void ProgressBar::finish(Clock::time_point now) {
  if (finished_ || silent_) return;
  if (redraw_ || total_ == 0 || last_tenth_ != 10) draw(now);
  if (redraw_) std::fputc('\n', out_);
  std::fflush(out_);
  finished_ = true;
}

void ProgressBar::draw(Clock::time_point now) {
  const ProgressSnapshot snapshot{done_, total_,
                                  std::chrono::duration<double>(now - start_).count(), unit_};
  std::string line = format_progress_line(label_, snapshot, redraw_ ? kBarWidth : 0);
  if (redraw_) {
    // Blank out what is left of a longer previous line.
    const std::size_t length = line.size();
    if (length < last_length_) line.append(last_length_ - length, ' ');
    last_length_ = length;
    std::fprintf(out_, "\r%s", line.c_str());
  } else {
    std::fprintf(out_, "%s\n", line.c_str());
  }
  std::fflush(out_);
  last_draw_ = now;
  drawn_ = true;
}

}  // namespace maltor::tool
