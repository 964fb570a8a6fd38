#include "console.h"

#include <atomic>
#include <cctype>
#include <csignal>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace maltor::tool {

namespace {

// Written from a signal handler (or the console's handler thread on Windows).
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

#ifdef _WIN32
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // FALSE passes a second press on to the default handler, which ends the process.
  return g_interrupted.exchange(true) ? FALSE : TRUE;
}
#else
void on_sigint(int) {
  if (g_interrupted.exchange(true)) {
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
  }
}
#endif

}  // namespace

bool is_terminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

void install_interrupt_handler() {
#ifdef _WIN32
  SetConsoleCtrlHandler(on_console_event, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = on_sigint;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
#endif
}

bool is_yes_answer(std::string_view answer) {
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.front()))) {
    answer.remove_prefix(1);
  }
  while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) {
    answer.remove_suffix(1);
  }
  std::string lower;
  for (const char c : answer)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == "y" || lower == "yes";
}

bool ask_yes_no(const std::string& question) {
  std::printf("%s [y/N] ", question.c_str());
  std::fflush(stdout);
  char line[64];
  // Ctrl-C interrupts the read (the handler is installed without restart).
  if (std::fgets(line, sizeof line, stdin) == nullptr || interrupted()) {
    std::printf("\n");
    return false;
  }
  return is_yes_answer(line);
}

bool interrupted() {
  return g_interrupted.load();
}

void clear_interrupted() {
  g_interrupted.store(false);
}

}  // namespace maltor::tool
