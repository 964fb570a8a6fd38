// The manual page, made from the same texts as --help so the two never differ.
#pragma once

#include <string>
#include <string_view>

namespace maltor::tool {

// `text` for a roff .nf block: backslashes escaped, lines that roff would take
// for requests guarded.
std::string roff_literal(std::string_view text);

// maltor.1: the global help, then each command's usage, as roff.
std::string man_page(std::string_view global_help, std::string_view help_tail);

}  // namespace maltor::tool
