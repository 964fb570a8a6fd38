// Small helpers the command families share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "cli.h"
#include "output.h"
#include "session.h"

namespace maltor::tool {

// True with the global --json or the command's own --json (consumed here).
inline bool wants_json(const Session& session, ArgList& args) {
  return args.flag("--json") || session.json();
}

// Prints one JSON object on its own line.
void print_json(const JsonWriter& json);

// A library version as MaltorGetVersion gives it, (major << 16) | (minor << 8)
// | patch, as "0.2.0".
std::string version_text(std::uint32_t version);

// A positional number no greater than `max`, e.g. required_number(args, "BUS", 0xFFFF).
std::uint64_t required_number(ArgList& args, std::string_view what, std::uint64_t max);

// The value of option `name` as a number no greater than `max`, or `fallback`.
std::uint64_t option_number(ArgList& args, std::string_view name, std::uint64_t max,
                            std::uint64_t fallback);

// Refuses, before anything is sent, a file the library is to write but could
// not create (its folder is missing, or a folder stands in its place), and one
// that is there but not a regular file (a device, a pipe), which the library
// would remove and replace.
void check_destination(const std::string& command, const std::string& path);

// After a call that reported writing `expected` bytes to `path`: when the
// file holds fewer (or is missing), throws ToolError(kExitFailed,
// "<what>: wrote N of M bytes to PATH"). Returns the file's size.
std::uint64_t check_file_holds(std::string_view what, const std::string& path,
                               std::uint64_t expected);

// A file the tool writes itself, unbuffered, so a failure can say how much of
// what was handed over reached the file ("wrote N of M bytes to
// PATH: <OS error>"); every write and the close are checked.
class OutputFile {
 public:
  OutputFile(std::string command, const std::string& path);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
  void write(const void* bytes, std::size_t length);
  void write(std::string_view text) { write(text.data(), text.size()); }
  void close();

 private:
  [[noreturn]] void fail(int os_error);

  std::string command_;
  std::string path_;
  std::FILE* file_;
  std::uint64_t expected_ = 0;
  std::uint64_t written_ = 0;
};

// The size of the file the library is to read; a usage error when it is
// missing or is not a file.
std::uint64_t input_file_size(const std::string& command, const std::string& path);

}  // namespace maltor::tool
