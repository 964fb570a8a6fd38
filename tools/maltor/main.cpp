// maltor: a command-line front end to the MaltorUSBdrv library, which it loads
// at run time as applications do.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "call_errors.h"
#include "cli.h"
#include "command.h"
#include "command_support.h"
#include "console.h"
#include "errors.h"
#include "man_page.h"
#include "session.h"

namespace maltor::tool {
namespace {

constexpr const char* kGlobalHelp =
    "usage: maltor [global options] COMMAND [args] [';' COMMAND [args] ...]\n"
    "       maltor [global options] --script FILE\n"
    "\n"
    "Talks to a Maltor logger, gateway or data processor through the MaltorUSBdrv\n"
    "library, loaded at run time.\n"
    "\n"
    "Global options:\n"
    "  --lib PATH        load this library file instead of searching by name\n"
    "                    (default: the file the MALTOR_LIBRARY variable names, if set)\n"
    "  --sim             load MaltorUSBdrv_sim and plug virtual devices first\n"
    "  --sim-kind N      kind of the virtual devices: 1, 2, 3 or 5; 0 plugs a foreign\n"
    "                    device that discovery skips (default 1)\n"
    "  --sim-speed S     high or full (default high)\n"
    "  --sim-devices N   how many virtual devices to plug, 0 to 16 (default 1)\n"
    "  --device ID       work with this device only: its serial, location, path or\n"
    "                    index as 'maltor devices' lists them\n"
    "  --script FILE     run the commands in FILE, one per line; # starts a comment,\n"
    "                    \"...\" or '...' keep blanks in a word; FILE - reads\n"
    "                    standard input\n"
    "  --trace FILE      record every USB transfer into FILE (pcapng, for Wireshark)\n"
    "  --json            print results as one JSON document per command on stdout\n"
    "                    (JSON Lines for live and can dump), errors too:\n"
    "                    {\"error\": ..., \"result\": N, \"text\": ..., \"detail\": {...}}\n"
    "  -q, --quiet       no progress bars and no notes on stderr\n"
    "  --version         the tool's version and the loaded library's\n"
    "  --man             print this manual as a roff man page (maltor.1)\n"
    "  -h, --help        this help; 'maltor COMMAND --help' explains a command\n"
    "  --                end of the options: what follows is a command and its\n"
    "                    words, taken as they are (also inside a command)\n"
    "\n"
    "Commands:\n";

constexpr const char* kGlobalHelpTail =
    "\n"
    "Several commands run in one process, one after another, on the same library\n"
    "and the same virtual devices: separate them with a lone ';' (quote it for the\n"
    "shell: maltor --sim devices ';' status) or list them in a --script file. The\n"
    "run stops at the first command that fails.\n"
    "\n"
    "The library (libMaltorUSBdrv.so.0, MaltorUSBdrv.dll; with --sim, MaltorUSBdrv_sim)\n"
    "is looked for beside the tool, then in ../../src from there (the build tree),\n"
    "then on the system's library search path (an installed tool: ../lib first).\n"
    "\n"
    "Results go to stdout; progress bars, notes and (without --json) errors go to\n"
    "stderr, so stdout can be piped.\n"
    "\n"
    "Exit codes: 0 done; 1 the command failed (e.g. no device found); 2 bad usage;\n"
    "3 the library could not be loaded or lacks a function; 130 stopped by Ctrl-C\n"
    "(SIGINT), 143 by SIGTERM, 129 by SIGHUP: each stops a download, live data or\n"
    "an update cleanly and waits for the update to end first.\n";

void print_global_help() {
  std::printf("%s", kGlobalHelp);
  for (const Command* command : all_commands()) {
    std::printf("  %-18s%.*s\n", std::string(command->name).c_str(),
                static_cast<int>(command->summary.size()), command->summary.data());
  }
  std::printf("%s", kGlobalHelpTail);
}

std::vector<CommandLine> read_script(const std::string& path) {
  std::string text;
  const bool from_stdin = path == "-";
  if (from_stdin) {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError(kExitUsage, "cannot read the script " + path);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string name = from_stdin ? "stdin" : path;
  std::vector<CommandLine> commands = parse_script(text, name);
  if (commands.empty()) throw usage_error("the script " + name + " holds no command");
  return commands;
}

// The tool's version, and the library's as MaltorGetVersion reports it.
int print_version(Session& session) {
  const std::string tool = version_text(MALTOR_USBDRV_VERSION);
  // The tool's own version shows even when no library can be loaded.
  if (!session.json()) std::printf("maltor %s\n", tool.c_str());
  Library& library = session.library();
  std::string loaded = "unknown (the library has no MaltorGetVersion)";
  if (library.exports("MaltorGetVersion")) {
    loaded = version_text(MALTOR_FUNCTION(library, MaltorGetVersion)());
  }
  if (session.json()) {
    JsonWriter json;
    json.begin_object().key("tool").value(tool).key("library").value(loaded);
    json.key("library_path").value(library.path()).end_object();
    print_json(json);
  } else {
    std::printf("library %s (%s)\n", loaded.c_str(), library.path().c_str());
  }
  return kExitOk;
}

// True when the command's own words ask for JSON (before any "--").
bool asks_for_json(const std::vector<std::string>& words) {
  const auto end = std::find(words.begin(), words.end(), kEndOfOptions);
  return std::find(words.begin(), end, "--json") != end;
}

// Where errors go: with --json as a JSON document on stdout, else on stderr.
bool g_json_errors = false;

const Command& command_named(const std::string& name) {
  const Command* command = find_command(name);
  if (command == nullptr) throw usage_error("unknown command '" + name + "' (see maltor --help)");
  return *command;
}

int run_one(Session& session, const CommandLine& line) {
  const std::string& name = line.words.front();
  const Command* command = &command_named(name);
  const std::span<const std::string> rest = std::span(line.words).subspan(1);
  ArgList args(name, rest);
  if (args.flag("--help") || args.flag("-h")) {
    std::printf("usage: %.*s", static_cast<int>(command->usage.size()), command->usage.data());
    return kExitOk;
  }
  return command->run(session, args);
}

int run(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Until the line is understood, any --json asks for a JSON error.
  g_json_errors = asks_for_json(args);
  ParsedCommandLine parsed = parse_command_line(args);
  g_json_errors = parsed.options.json;
  set_quiet(parsed.options.quiet);
  if (parsed.options.help) {
    print_global_help();
    return kExitOk;
  }
  if (parsed.options.man) {
    std::printf("%s", man_page(kGlobalHelp, kGlobalHelpTail).c_str());
    return kExitOk;
  }
  if (parsed.options.version) {
    if (!parsed.commands.empty() || !parsed.options.script_path.empty()) {
      throw usage_error("--version takes no command");
    }
    install_interrupt_handler();
    Session session(std::move(parsed.options));
    return print_version(session);
  }
  std::vector<CommandLine> commands = parsed.options.script_path.empty()
                                          ? std::move(parsed.commands)
                                          : read_script(parsed.options.script_path);
  if (commands.empty()) throw usage_error("no command given (see maltor --help)");

  // In a sequence, errors say which command they come from.
  const auto in_context = [&](const CommandLine& line, const ToolError& error) {
    if (commands.size() == 1) return error;
    const std::string message = line.origin + " (" + line.words.front() + "): " + error.what();
    if (!error.failure()) return ToolError(error.exit_code(), message);
    return ToolError(error.exit_code(), message, *error.failure());
  };
  // A misspelt name fails the run before any command touches the device.
  for (const CommandLine& line : commands) {
    g_json_errors = parsed.options.json || asks_for_json(line.words);
    try {
      command_named(line.words.front());
    } catch (const ToolError& error) {
      throw in_context(line, error);
    }
  }

  install_interrupt_handler();
  Session session(std::move(parsed.options));
  for (const CommandLine& line : commands) {
    if (interrupted()) return interrupt_exit_code();
    g_json_errors = session.json() || asks_for_json(line.words);
    try {
      std::fflush(stdout);
      if (const int code = run_one(session, line); code != kExitOk) return code;
    } catch (const ToolError& error) {
      throw in_context(line, error);
    }
  }
  return interrupted() ? interrupt_exit_code() : kExitOk;
}

}  // namespace
}  // namespace maltor::tool

namespace {

int report(const maltor::tool::ToolError& error) {
  if (maltor::tool::g_json_errors) {
    std::printf("%s\n", maltor::tool::error_json(error).c_str());
  } else {
    std::fflush(stdout);
    std::fprintf(stderr, "maltor: %s\n", error.what());
  }
  std::fflush(stdout);
  return error.exit_code();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return maltor::tool::run(argc, argv);
  } catch (const maltor::tool::ToolError& error) {
    return report(error);
  } catch (const std::exception& error) {
    return report(maltor::tool::ToolError(maltor::tool::kExitFailed, error.what()));
  }
}
