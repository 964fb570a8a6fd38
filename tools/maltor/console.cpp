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

// Written from a signal handler (or the console's handler thread on Windows):
// the signal that asked the tool to stop, 0 while none has.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

#ifdef _WIN32
BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // FALSE passes a second press on to the default handler, which ends the process.
  return g_signal.exchange(SIGINT) != 0 ? FALSE : TRUE;
}
#else
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The first signal asks for a clean stop; a second one ends the process as
// that signal does by default.
void on_stop_signal(int signal) {
  int none = 0;
  if (!g_signal.compare_exchange_strong(none, signal)) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
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
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  for (const int signal : kStopSignals) sigaction(signal, &action, nullptr);
#endif
}

namespace {
bool g_quiet = false;
}  // namespace

void set_quiet(bool quiet) {
  g_quiet = quiet;
}

bool quiet() {
  return g_quiet;
}

void note(const std::string& text) {
  if (g_quiet) return;
  std::fflush(stdout);
  std::fprintf(stderr, "maltor: %s\n", text.c_str());
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
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  char line[64];
  // Ctrl-C interrupts the read (the handler is installed without restart).
  if (std::fgets(line, sizeof line, stdin) == nullptr || interrupted()) {
    std::fprintf(stderr, "\n");
    return false;
  }
  return is_yes_answer(line);
}

bool interrupted() {
  return g_signal.load() != 0;
}

int interrupt_exit_code() {
  switch (g_signal.load()) {
#ifndef _WIN32
    case SIGTERM:
      return 143;
    case SIGHUP:
      return 129;
#endif
    default:
      return 130;
  }
}

void clear_interrupted() {
  g_signal.store(0);
}

}  // namespace maltor::tool
