// Runs the maltor program through the shell, as a user would, and keeps what
// it printed and how it exited (POSIX popen).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace maltor::test {

struct ToolRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// `command` is a shell command line; its standard output is collected.
inline ToolRun run_shell(const std::string& command) {
  ToolRun run;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace maltor::test
