// Command-line and script parsing. Pure functions: no I/O, no library.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace maltor::tool {

struct GlobalOptions {
  bool help = false;
  bool version = false;
  bool man = false;
  bool json = false;
  bool quiet = false;  // no progress bars and no notes on stderr
  bool sim = false;
  std::uint8_t sim_kind = 1;
  bool sim_high_speed = true;
  std::uint32_t sim_devices = 1;
  std::string library_path;  // --lib; empty: search by name
  std::string device;        // --device; empty: discovery takes every device
  std::string script_path;   // --script; empty: commands come from the command line, "-": stdin
  std::string trace_path;    // --trace; empty: no USB trace
};

// One command to run: its name and arguments, and where it came from
// ("command 2", "setup.txt:7") for error messages.
struct CommandLine {
  std::vector<std::string> words;
  std::string origin;
};

struct ParsedCommandLine {
  GlobalOptions options;
  std::vector<CommandLine> commands;
};

// The word that separates commands on the command line.
inline constexpr std::string_view kCommandSeparator = ";";

// The word that ends the options: what follows is taken as it is.
inline constexpr std::string_view kEndOfOptions = "--";

// Parses the arguments after the program name: global options up to the first
// word that is not an option (or up to "--"), then commands separated by lone
// ";" words.
// Throws ToolError(kExitUsage) on a bad option or an empty command.
ParsedCommandLine parse_command_line(std::span<const std::string> args);

// Splits a script into commands, one per non-empty line. Words are separated
// by blanks; "..." and '...' keep blanks inside a word; within "...", a
// backslash escapes a quote or a backslash and stays as it is otherwise (for
// Windows paths); # at the start of a word starts a comment. Throws
// ToolError(kExitUsage) on an unterminated quote.
std::vector<CommandLine> parse_script(std::string_view text, std::string_view script_name);

// Parses a decimal or 0x-prefixed hexadecimal number no greater than `max`.
// `what` names the value in the error message.
std::uint64_t parse_number(std::string_view text, std::uint64_t max, std::string_view what);

// A command's arguments, consumed option by option; whatever is left at the
// end is an error. After a "--" word every word is positional.
class ArgList {
 public:
  ArgList(std::string_view command, std::span<const std::string> args);

  // True (and consumed) when `name` is present.
  bool flag(std::string_view name);
  // The value of "--name VALUE" or "--name=VALUE", consumed.
  std::optional<std::string> value(std::string_view name);
  // The next word that does not start with "--", consumed.
  std::optional<std::string> positional();
  // The next positional word, consumed; a usage error naming `what` (as the
  // usage text spells it, e.g. "BUS") when there is none.
  std::string required(std::string_view what);
  // Throws a usage error naming the first word nobody consumed.
  void expect_done() const;

 private:
  void erase(std::size_t index, std::size_t count = 1);

  std::string command_;
  std::vector<std::string> words_;
  std::size_t options_end_;  // words_[options_end_..] came after "--"
};

}  // namespace maltor::tool
