// The terminal: whether a stream is one, and Ctrl-C.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace maltor::tool {

// True when `stream` is an interactive terminal.
bool is_terminal(std::FILE* stream);

// Makes Ctrl-C (SIGINT, or the console's Ctrl-C / Ctrl-Break event on
// Windows) set a flag instead of ending the process, so that long commands
// can stop cleanly at their next step and release the device. A second Ctrl-C
// ends the process as usual.
void install_interrupt_handler();

// True when a line typed at a prompt means yes: "y" or "yes" in any case,
// blanks around it ignored.
bool is_yes_answer(std::string_view answer);

// Prints "QUESTION [y/N] " and reads one line from standard input; true for
// yes. End of input or Ctrl-C at the prompt reads as no.
bool ask_yes_no(const std::string& question);

// True once Ctrl-C was pressed (until clear_interrupted()).
bool interrupted();
void clear_interrupted();

}  // namespace maltor::tool
