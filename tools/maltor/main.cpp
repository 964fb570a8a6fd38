// maltor: a command-line front end to the MaltorUSBdrv library, which it loads
// at run time as applications do.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli.h"
#include "command.h"
#include "console.h"
#include "errors.h"
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
    "  --sim             load MaltorUSBdrv_sim and plug virtual devices first\n"
    "  --sim-kind N      kind of the virtual devices: 1, 2, 3 or 5; 0 plugs a foreign\n"
    "                    device that discovery skips (default 1)\n"
    "  --sim-speed S     high or full (default high)\n"
    "  --sim-devices N   how many virtual devices to plug, 0 to 16 (default 1)\n"
    "  --script FILE     run the commands in FILE, one per line; # starts a comment,\n"
    "                    \"...\" or '...' keep blanks in a word\n"
    "  --trace FILE      record every USB transfer into FILE (pcapng, for Wireshark)\n"
    "  --json            print results as one JSON object per command\n"
    "  -h, --help        this help; 'maltor COMMAND --help' explains a command\n"
    "\n"
    "Commands:\n";

constexpr const char* kGlobalHelpTail =
    "\n"
    "Several commands run in one process, one after another, on the same library\n"
    "and the same virtual devices: separate them with a lone ';' (quote it for the\n"
    "shell: maltor --sim devices ';' status) or list them in a --script file. The\n"
    "run stops at the first command that fails.\n"
    "\n"
    "The library (libMaltorUSBdrv.so, MaltorUSBdrv.dll; with --sim, MaltorUSBdrv_sim)\n"
    "is looked for beside the tool, then in ../../src from there (the build tree),\n"
    "then on the system's library search path.\n"
    "\n"
    "Exit codes: 0 done; 1 the command failed (e.g. no device found); 2 bad usage;\n"
    "3 the library could not be loaded or lacks a function; 130 stopped by Ctrl-C.\n";

void print_global_help() {
  std::printf("%s", kGlobalHelp);
  for (const Command* command : all_commands()) {
    std::printf("  %-18s%.*s\n", std::string(command->name).c_str(),
                static_cast<int>(command->summary.size()), command->summary.data());
  }
  std::printf("%s", kGlobalHelpTail);
}

std::vector<CommandLine> read_script(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError(kExitUsage, "cannot read the script " + path);
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<CommandLine> commands = parse_script(text, path);
  if (commands.empty()) throw usage_error("the script " + path + " holds no command");
  return commands;
}

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
  ParsedCommandLine parsed = parse_command_line(args);
  if (parsed.options.help) {
    print_global_help();
    return kExitOk;
  }
  std::vector<CommandLine> commands = parsed.options.script_path.empty()
                                          ? std::move(parsed.commands)
                                          : read_script(parsed.options.script_path);
  if (commands.empty()) throw usage_error("no command given (see maltor --help)");

  // In a sequence, errors say which command they come from.
  const auto in_context = [&](const CommandLine& line, const ToolError& error) {
    if (commands.size() == 1) return error;
    return ToolError(error.exit_code(),
                     line.origin + " (" + line.words.front() + "): " + error.what());
  };
  // A misspelt name fails the run before any command touches the device.
  for (const CommandLine& line : commands) {
    try {
      command_named(line.words.front());
    } catch (const ToolError& error) {
      throw in_context(line, error);
    }
  }

  install_interrupt_handler();
  Session session(std::move(parsed.options));
  for (const CommandLine& line : commands) {
    if (interrupted()) return kExitInterrupted;
    try {
      std::fflush(stdout);
      if (const int code = run_one(session, line); code != kExitOk) return code;
    } catch (const ToolError& error) {
      throw in_context(line, error);
    }
  }
  return interrupted() ? kExitInterrupted : kExitOk;
}

}  // namespace
}  // namespace maltor::tool

int main(int argc, char** argv) {
  try {
    return maltor::tool::run(argc, argv);
  } catch (const maltor::tool::ToolError& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "maltor: %s\n", error.what());
    return error.exit_code();
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "maltor: %s\n", error.what());
    return maltor::tool::kExitFailed;
  }
}
