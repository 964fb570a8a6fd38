// The terminal: whether a stream is one, and Ctrl-C.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace maltor::tool {

// True when `stream` is an interactive terminal.
bool is_terminal(std::FILE* stream);

// Makes Ctrl-C, SIGTERM and SIGHUP (the console's Ctrl-C / Ctrl-Break event
// on Windows) set a flag instead of ending the process, so that long commands
// can stop cleanly at their next step and release the device. A second signal
// ends the process as usual.
void install_interrupt_handler();

// --quiet: no progress bars and no notes.
void set_quiet(bool quiet);
bool quiet();

// Prints "maltor: TEXT" on stderr unless --quiet was given: a note beside the
// command's result, never part of it.
void note(const std::string& text);

// True when a line typed at a prompt means yes: "y" or "yes" in any case,
// blanks around it ignored.
bool is_yes_answer(std::string_view answer);

// Prints "QUESTION [y/N] " on stderr and reads one line from standard input; true for
// yes. End of input or Ctrl-C at the prompt reads as no.
bool ask_yes_no(const std::string& question);

// True once Ctrl-C was pressed or SIGTERM or SIGHUP came (until clear_interrupted()).
bool interrupted();
// The exit code for the signal that stopped the tool, as shells report it:
// 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP.
int interrupt_exit_code();
void clear_interrupted();

}  // namespace maltor::tool
