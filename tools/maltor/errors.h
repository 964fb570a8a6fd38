// Exit codes and the error type every part of the tool throws.
#pragma once

#include <stdexcept>
#include <string>

namespace maltor::tool {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailed = 1,         // the command ran and failed (no device, exchange failed, ...)
  kExitUsage = 2,          // bad options or arguments
  kExitLibrary = 3,        // the library could not be loaded or lacks a function
  kExitInterrupted = 130,  // Ctrl-C, as shells report SIGINT
};

class ToolError : public std::runtime_error {
 public:
  ToolError(int exit_code, const std::string& message)
      : std::runtime_error(message), exit_code_(exit_code) {}
  int exit_code() const { return exit_code_; }

 private:
  int exit_code_;
};

inline ToolError usage_error(const std::string& message) {
  return {kExitUsage, message};
}

}  // namespace maltor::tool
