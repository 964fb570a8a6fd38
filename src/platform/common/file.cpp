// Files are always opened in binary mode; text mode is emulated here by
// writing LF as CR LF, so every OS produces the same bytes on disk.
#include <filesystem>
#include <system_error>

#include "platform/os.h"

namespace maltor::platform {

namespace {

const char* binary_mode(FileMode mode) {
  switch (mode) {
    case FileMode::kReadBinary:
      return "rb";
    case FileMode::kReadUpdate:
      return "r+b";
    case FileMode::kWriteBinary:
    case FileMode::kWriteText:
      return "w+b";
    case FileMode::kAppendBinary:
    case FileMode::kAppendText:
      return "ab";
  }
  return "rb";
}

}  // namespace

bool File::open(const char* path, FileMode mode) {
  close();
  if (path == nullptr) return false;
  stream_ = std::fopen(path, binary_mode(mode));
  text_ = mode == FileMode::kWriteText || mode == FileMode::kAppendText;
  return stream_ != nullptr;
}

std::size_t File::write(const void* data, std::size_t length) {
  if (stream_ == nullptr) return 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (!text_) return std::fwrite(bytes, 1, length, stream_);
  // Write runs between line feeds as they are, and each LF as CR LF.
  std::size_t done = 0;
  while (done < length) {
    std::size_t run = 0;
    while (done + run < length && bytes[done + run] != '\n') ++run;
    if (run > 0 && std::fwrite(bytes + done, 1, run, stream_) != run) return done;
    done += run;
    if (done < length) {
      static constexpr unsigned char kCrLf[2] = {'\r', '\n'};
      if (std::fwrite(kCrLf, 1, 2, stream_) != 2) return done;
      ++done;
    }
  }
  return done;
}

bool File::write_text(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return write(text, length) == length;
}

std::size_t File::read(void* buffer, std::size_t length) {
  return stream_ == nullptr ? 0 : std::fread(buffer, 1, length, stream_);
}

// Offsets are 64-bit on every OS; fseek and ftell take a long, which has only
// 32 bits on Windows and would misreport files of 2 GiB and more.
bool File::seek(std::int64_t offset, int origin) {
  if (stream_ == nullptr) return false;
#if defined(_WIN32)
  return _fseeki64(stream_, offset, origin) == 0;
#else
  return fseeko(stream_, static_cast<off_t>(offset), origin) == 0;
#endif
}

std::int64_t File::tell() {
  if (stream_ == nullptr) return -1;
#if defined(_WIN32)
  return _ftelli64(stream_);
#else
  return ftello(stream_);
#endif
}

bool File::flush() {
  return stream_ != nullptr && std::fflush(stream_) == 0;
}

void File::close() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
}

bool File::close_checked() {
  if (stream_ == nullptr) return true;
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  return closed;
}

bool remove_file(const char* path) {
  if (path == nullptr) return false;
  // Only files and links are deleted: a destination such as /dev/null or a
  // pipe is written in place, never unlinked (as root that would replace a
  // device node with a plain file).
  std::error_code error;
  const auto type = std::filesystem::symlink_status(path, error).type();
  if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::symlink) {
    return false;
  }
  return std::remove(path) == 0;
}

bool make_folder(const char* path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error);
}

}  // namespace maltor::platform
