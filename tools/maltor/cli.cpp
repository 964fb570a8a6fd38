#include "cli.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "errors.h"

namespace maltor::tool {

namespace {

bool is_option(std::string_view word) {
  return word.size() > 1 && word[0] == '-';
}

// Splits "--name=value" into its two halves; `value` is empty without "=".
std::string_view option_name(std::string_view word, std::optional<std::string_view>& value) {
  const std::size_t equals = word.find('=');
  if (equals == std::string_view::npos) {
    value.reset();
    return word;
  }
  value = word.substr(equals + 1);
  return word.substr(0, equals);
}

// Takes the value of an option from "--name=value" or from the next word.
std::string take_value(std::string_view name, const std::optional<std::string_view>& inline_value,
                       std::span<const std::string> args, std::size_t& index) {
  if (inline_value) return std::string(*inline_value);
  if (index + 1 >= args.size()) throw usage_error(std::string(name) + " needs a value");
  return args[++index];
}

void apply_global(GlobalOptions& options, std::string_view name,
                  const std::optional<std::string_view>& inline_value,
                  std::span<const std::string> args, std::size_t& index) {
  const auto value = [&] { return take_value(name, inline_value, args, index); };
  const auto no_value = [&] {
    if (inline_value) throw usage_error(std::string(name) + " takes no value");
  };
  if (name == "-h" || name == "--help") {
    no_value();
    options.help = true;
  } else if (name == "--version") {
    no_value();
    options.version = true;
  } else if (name == "--man") {
    no_value();
    options.man = true;
  } else if (name == "--json") {
    no_value();
    options.json = true;
  } else if (name == "-q" || name == "--quiet") {
    no_value();
    options.quiet = true;
  } else if (name == "--sim") {
    no_value();
    options.sim = true;
  } else if (name == "--sim-kind") {
    const auto kind = parse_number(value(), 5, "--sim-kind");
    if (kind == 4) throw usage_error("--sim-kind: there is no kind 4 (use 1, 2, 3, 5, or 0)");
    options.sim_kind = static_cast<std::uint8_t>(kind);
  } else if (name == "--sim-speed") {
    const std::string speed = value();
    if (speed != "high" && speed != "full") {
      throw usage_error("--sim-speed: expected high or full, got '" + speed + "'");
    }
    options.sim_high_speed = speed == "high";
  } else if (name == "--sim-devices") {
    // The virtual bus holds 16 devices.
    options.sim_devices = static_cast<std::uint32_t>(parse_number(value(), 16, "--sim-devices"));
  } else if (name == "--device") {
    options.device = value();
    if (options.device.empty())
      throw usage_error("--device needs a serial, location, path or index");
  } else if (name == "--lib") {
    options.library_path = value();
    if (options.library_path.empty()) throw usage_error("--lib needs a file path");
  } else if (name == "--trace") {
    options.trace_path = value();
    if (options.trace_path.empty()) throw usage_error("--trace needs a file path");
  } else if (name == "--script") {
    options.script_path = value();
    if (options.script_path.empty()) throw usage_error("--script needs a file path");
  } else {
    throw usage_error("unknown global option '" + std::string(name) + "' (see maltor --help)");
  }
}

}  // namespace

ParsedCommandLine parse_command_line(std::span<const std::string> args) {
  ParsedCommandLine parsed;
  std::size_t index = 0;
  for (; index < args.size() && is_option(args[index]); ++index) {
    if (args[index] == kEndOfOptions) {
      ++index;
      break;
    }
    std::optional<std::string_view> inline_value;
    const std::string_view name = option_name(args[index], inline_value);
    apply_global(parsed.options, name, inline_value, args, index);
  }

  CommandLine current;
  const auto close_command = [&](bool at_end) {
    const std::string origin = "command " + std::to_string(parsed.commands.size() + 1);
    if (current.words.empty()) {
      // "a ;" at the very end is harmless; "; ;" or a leading ";" is a slip.
      if (at_end && !parsed.commands.empty()) return;
      throw usage_error(origin + " is empty (stray ';')");
    }
    current.origin = origin;
    parsed.commands.push_back(std::move(current));
    current = {};
  };
  for (; index < args.size(); ++index) {
    if (args[index] == kCommandSeparator) {
      close_command(false);
    } else {
      current.words.push_back(args[index]);
    }
  }
  if (!current.words.empty() || !parsed.commands.empty()) close_command(true);

  if (!parsed.options.script_path.empty() && !parsed.commands.empty()) {
    throw usage_error("give commands either on the command line or in --script, not both");
  }
  return parsed;
}

std::vector<CommandLine> parse_script(std::string_view text, std::string_view script_name) {
  std::vector<CommandLine> commands;
  std::size_t line_number = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line_number;
    const std::string origin = std::string(script_name) + ":" + std::to_string(line_number);

    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == ' ' || c == '\t' || c == '\r') {
        if (in_word) words.push_back(std::move(word));
        word.clear();
        in_word = false;
      } else if (c == '#' && !in_word) {
        break;
      } else if (c == '"' || c == '\'') {
        in_word = true;
        std::size_t j = i + 1;
        for (; j < line.size() && line[j] != c; ++j) {
          if (c == '"' && line[j] == '\\' && j + 1 < line.size() &&
              (line[j + 1] == '"' || line[j + 1] == '\\')) {
            ++j;
          }
          word += line[j];
        }
        if (j >= line.size()) {
          throw usage_error(origin + ": unterminated " + std::string(1, c) + " quote");
        }
        i = j;
      } else {
        word += c;
        in_word = true;
      }
    }
    if (in_word) words.push_back(std::move(word));
    if (!words.empty()) commands.push_back({std::move(words), origin});
  }
  return commands;
}

std::uint64_t parse_number(std::string_view text, std::uint64_t max, std::string_view what) {
  int base = 10;
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  std::uint64_t value = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
    throw usage_error(std::string(what) + ": expected a number, got '" + std::string(text) + "'");
  }
  if (value > max) {
    throw usage_error(std::string(what) + ": " + std::string(text) + " is more than " +
                      std::to_string(max));
  }
  return value;
}

ArgList::ArgList(std::string_view command, std::span<const std::string> args)
    : command_(command), words_(args.begin(), args.end()), options_end_(words_.size()) {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (words_[i] == kEndOfOptions) {
      options_end_ = i;
      words_.erase(words_.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
}

void ArgList::erase(std::size_t index, std::size_t count) {
  const auto first = words_.begin() + static_cast<std::ptrdiff_t>(index);
  words_.erase(first, first + static_cast<std::ptrdiff_t>(count));
  if (index < options_end_) options_end_ -= std::min(count, options_end_ - index);
}

bool ArgList::flag(std::string_view name) {
  for (std::size_t i = 0; i < options_end_; ++i) {
    if (words_[i] == name) {
      erase(i);
      return true;
    }
  }
  return false;
}

std::optional<std::string> ArgList::value(std::string_view name) {
  for (std::size_t i = 0; i < options_end_; ++i) {
    const std::string_view word = words_[i];
    if (word.size() > name.size() && word.starts_with(name) && word[name.size()] == '=') {
      std::string found(word.substr(name.size() + 1));
      erase(i);
      return found;
    }
    if (word == name) {
      if (i + 1 >= options_end_) {
        throw usage_error(command_ + ": " + std::string(name) + " needs a value");
      }
      std::string found = words_[i + 1];
      erase(i, 2);
      return found;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ArgList::positional() {
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (i >= options_end_ || !is_option(words_[i])) {
      std::string found = words_[i];
      erase(i);
      return found;
    }
  }
  return std::nullopt;
}

std::string ArgList::required(std::string_view what) {
  if (std::optional<std::string> word = positional()) return std::move(*word);
  throw usage_error(command_ + ": missing " + std::string(what) + " (see maltor " + command_ +
                    " --help)");
}

void ArgList::expect_done() const {
  if (words_.empty()) return;
  const std::string& word = words_.front();
  const bool option = options_end_ > 0 && is_option(word);
  throw usage_error(command_ + ": unexpected " + (option ? "option" : "argument") + " '" + word +
                    "' (see maltor " + command_ + " --help)");
}

}  // namespace maltor::tool
