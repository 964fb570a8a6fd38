// The command table. Each family of commands lives in its own cmd_*.cpp and
// hands its rows to the table through one function listed in command_table.cpp.
#pragma once

#include <span>
#include <string_view>

#include "cli.h"
#include "session.h"

namespace maltor::tool {

struct Command {
  std::string_view name;
  std::string_view summary;  // one line for the command list
  std::string_view usage;    // "maltor NAME ..." and the options, for NAME --help
  // Runs the command; returns an exit code or throws ToolError.
  int (*run)(Session& session, ArgList& args);
};

// Every command, in the order --help lists them.
std::span<const Command* const> all_commands();
const Command* find_command(std::string_view name);

// The families.
std::span<const Command> connection_commands();
std::span<const Command> device_commands();
std::span<const Command> storage_commands();
std::span<const Command> transfer_commands();
std::span<const Command> live_commands();
std::span<const Command> can_commands();
std::span<const Command> update_commands();
std::span<const Command> config_commands();
std::span<const Command> doctor_commands();
std::span<const Command> trace_commands();

}  // namespace maltor::tool
