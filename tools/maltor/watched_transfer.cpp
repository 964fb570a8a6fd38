#include "watched_transfer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <optional>

#include "console.h"

namespace maltor::tool {

namespace {

// How often the file is looked at; the bar redraws at most every 100 ms anyway.
constexpr auto kPollInterval = std::chrono::milliseconds(50);

}  // namespace

std::uint64_t file_size_or_zero(const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : static_cast<std::uint64_t>(size);
}

WatchedOutcome run_watched(const WatchedTransfer& transfer,
                           const std::function<std::uint8_t()>& call) {
  // The file may grow past the total (text-mode line ends); the bar stops at 100%.
  const auto progress = [&] {
    const std::uint64_t size = file_size_or_zero(transfer.path);
    return transfer.total > 0 ? std::min(size, transfer.total) : size;
  };
  return run_watched(transfer, call, progress, ProgressUnit::kBytes);
}

WatchedOutcome run_watched(const WatchedTransfer& transfer,
                           const std::function<std::uint8_t()>& call,
                           const std::function<std::uint64_t()>& progress, ProgressUnit unit) {
  std::optional<ProgressBar> bar;
  if (transfer.show_progress) bar.emplace(transfer.label, transfer.total, unit);

  WatchedOutcome outcome;
  std::future<std::uint8_t> running = std::async(std::launch::async, [&] {
    const std::uint8_t result = call();
    if (transfer.check) {
      try {
        transfer.check(result);
      } catch (const ToolError& error) {
        outcome.failure = error;
      }
    }
    return result;
  });
  while (running.wait_for(kPollInterval) != std::future_status::ready) {
    if (interrupted() && !outcome.interrupted) {
      outcome.interrupted = true;
      // Leave the progress line before speaking.
      if (bar && is_terminal(stderr)) std::fputc('\n', stderr);
      if (transfer.on_interrupt) {
        transfer.on_interrupt();
      } else {
        note("the " + transfer.label +
             " cannot be stopped; waiting for it to end (a second signal ends maltor at once)");
      }
    }
    if (bar) bar->update(progress());
  }
  outcome.result = running.get();
  // A failed call leaves its last state shown; the error message follows.
  if (bar && outcome.result == 0 && !outcome.failure) {
    bar->update(progress());
    bar->finish();
  }
  return outcome;
}

}  // namespace maltor::tool
