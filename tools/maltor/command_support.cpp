#include "command_support.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <utility>

#include "call_errors.h"
#include "errors.h"

namespace maltor::tool {

void print_json(const JsonWriter& json) {
  std::printf("%s\n", json.text().c_str());
}

std::string version_text(std::uint32_t version) {
  return std::to_string(version >> 16) + "." + std::to_string(version >> 8 & 0xFF) + "." +
         std::to_string(version & 0xFF);
}

std::uint64_t required_number(ArgList& args, std::string_view what, std::uint64_t max) {
  return parse_number(args.required(what), max, what);
}

std::uint64_t option_number(ArgList& args, std::string_view name, std::uint64_t max,
                            std::uint64_t fallback) {
  const std::optional<std::string> text = args.value(name);
  return text ? parse_number(*text, max, name) : fallback;
}

void check_destination(const std::string& command, const std::string& path) {
  namespace fs = std::filesystem;
  const fs::path parent = fs::path(path).parent_path();
  std::error_code error;
  if (!parent.empty() && !fs::is_directory(parent, error)) {
    throw usage_error(command + ": the folder " + parent.string() + " does not exist");
  }
  const fs::file_status status = fs::status(path, error);
  if (fs::is_directory(status)) throw usage_error(command + ": " + path + " is a folder");
  // The tool's outputs are files to keep: a device node or a pipe given by
  // mistake is refused rather than written, so the user hears of the mistake.
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    throw ToolError(kExitFailed, command + ": " + path +
                                     " is not a regular file; maltor writes only regular files");
  }
}

std::uint64_t check_file_holds(std::string_view what, const std::string& path,
                               std::uint64_t expected) {
  namespace fs = std::filesystem;
  std::error_code error;
  const std::uint64_t size = fs::is_regular_file(path, error) ? fs::file_size(path, error) : 0;
  if (error || size < expected) {
    throw ToolError(kExitFailed,
                    std::string(what) + ": " + short_write_sentence(size, expected, path, 0),
                    CallFailure{MALTOR_OK, result_text(MALTOR_OK), std::nullopt});
  }
  return size;
}

OutputFile::OutputFile(std::string command, const std::string& path)
    : command_(std::move(command)), path_(path), file_(std::fopen(path.c_str(), "wb")) {
  if (file_ == nullptr) {
    throw ToolError(kExitFailed,
                    command_ + ": cannot create " + path + ": " + os_error_text(errno));
  }
  // Unbuffered: what fwrite reports written is in the file.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void OutputFile::write(const void* bytes, std::size_t length) {
  expected_ += length;
  const std::size_t written = std::fwrite(bytes, 1, length, file_);
  written_ += written;
  if (written != length) fail(errno);
}

void OutputFile::close() {
  const bool closed = std::fclose(file_) == 0;
  const int os_error = errno;
  file_ = nullptr;
  if (!closed) fail(os_error);
}

void OutputFile::fail(int os_error) {
  throw ToolError(kExitFailed,
                  command_ + ": " + short_write_sentence(written_, expected_, path_, os_error));
}

std::uint64_t input_file_size(const std::string& command, const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) throw usage_error(command + ": " + path + " does not exist");
  if (!fs::is_regular_file(status)) throw usage_error(command + ": " + path + " is not a file");
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) throw usage_error(command + ": cannot read the size of " + path);
  return static_cast<std::uint64_t>(size);
}

}  // namespace maltor::tool
