// The terminal: whether a stream is one, and Ctrl-C.
#pragma once

#include <cstdio>

namespace maltor::tool {

// True when `stream` is an interactive terminal.
bool is_terminal(std::FILE* stream);

// Makes Ctrl-C (SIGINT, or the console's Ctrl-C / Ctrl-Break event on
// Windows) set a flag instead of ending the process, so that long commands
// can stop cleanly at their next step and release the device. A second Ctrl-C
// ends the process as usual.
void install_interrupt_handler();

// True once Ctrl-C was pressed (until clear_interrupted()).
bool interrupted();
void clear_interrupted();

}  // namespace maltor::tool
