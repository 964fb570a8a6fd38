// Exit codes and the error type every part of the tool throws.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include "MaltorUSBdrv.h"

namespace maltor::tool {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,         // the command ran and failed (no device, exchange failed, ...)
  kExitUsage = 2,          // bad options or arguments
  kExitLibrary = 3,        // the library could not be loaded or lacks a function
  kExitHangup = 129,       // SIGHUP: the terminal went away
  kExitInterrupted = 130,  // Ctrl-C, as shells report SIGINT
  kExitTerminated = 143,   // SIGTERM
};

// What a failed library call left behind: its result code and, when the
// library said more, its error detail.
struct CallFailure {
  std::uint8_t result = 0;
  std::string text;  // the library's sentence for the result, or "device status N"
  std::optional<MaltorErrorDetail> detail;
};

class ToolError : public std::runtime_error {
 public:
  ToolError(int exit_code, const std::string& message)
      : std::runtime_error(message), exit_code_(exit_code) {}
  ToolError(int exit_code, const std::string& message, CallFailure failure)
      : std::runtime_error(message), exit_code_(exit_code), failure_(std::move(failure)) {}
  int exit_code() const { return exit_code_; }
  const std::optional<CallFailure>& failure() const { return failure_; }

 private:
  int exit_code_;
  std::optional<CallFailure> failure_;
};

inline ToolError usage_error(const std::string& message) {
  return {kExitUsage, message};
}

}  // namespace maltor::tool
