// A blocking library call that writes a file, run on a worker thread while the
// calling thread shows its progress from the file's growth (the library
// reports none) and turns Ctrl-C into the call's own stop, where it has one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "errors.h"
#include "progress.h"

namespace maltor::tool {

struct WatchedTransfer {
  std::string label;          // the progress line's label, e.g. "download"
  std::string path;           // the file the call writes
  std::uint64_t total = 0;    // bytes expected in the file; 0 when not known
  bool show_progress = true;  // false: no progress line (e.g. with --json)
  // Called once, on the calling thread, at the first Ctrl-C while the call
  // runs. Empty when the call cannot be stopped: the tool then says so and
  // waits (a second Ctrl-C ends the process).
  std::function<void()> on_interrupt;
  // Judges the call's result on the worker thread right after the call, where
  // the library's error detail for it lives (e.g. check_result); what it
  // throws comes back as WatchedOutcome::failure.
  std::function<void(std::uint8_t)> check;
};

struct WatchedOutcome {
  std::uint8_t result = 0;   // what the call returned
  bool interrupted = false;  // Ctrl-C was pressed while it ran
  std::optional<ToolError> failure;
};

// Runs `call` on a worker thread and returns once it has returned.
WatchedOutcome run_watched(const WatchedTransfer& transfer,
                           const std::function<std::uint8_t()>& call);

// As above, for a call that writes no file: the progress line counts what
// `progress` returns, in `unit`s of `transfer.total` (`transfer.path` is not
// used). `progress` is polled on the calling thread while the call runs.
WatchedOutcome run_watched(const WatchedTransfer& transfer,
                           const std::function<std::uint8_t()>& call,
                           const std::function<std::uint64_t()>& progress, ProgressUnit unit);

// The size of the file at `path`; 0 when it does not exist (yet).
std::uint64_t file_size_or_zero(const std::string& path);

}  // namespace maltor::tool
