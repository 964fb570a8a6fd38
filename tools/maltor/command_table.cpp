#include <vector>

#include "command.h"

namespace maltor::tool {

namespace {

using Family = std::span<const Command> (*)();

// One line per family; a new family of commands adds its function here.
constexpr Family kFamilies[] = {
    connection_commands, device_commands, storage_commands, transfer_commands, live_commands,
    can_commands,        update_commands, config_commands,  doctor_commands,   trace_commands,
};

std::vector<const Command*> build_table() {
  std::vector<const Command*> table;
  for (const Family family : kFamilies) {
    for (const Command& command : family()) table.push_back(&command);
  }
  return table;
}

}  // namespace

std::span<const Command* const> all_commands() {
  static const std::vector<const Command*> table = build_table();
  return table;
}

const Command* find_command(std::string_view name) {
  for (const Command* command : all_commands()) {
    if (command->name == name) return command;
  }
  return nullptr;
}

}  // namespace maltor::tool
