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

void File::note_error() {
  error_ = last_os_error();
}

bool File::open(const char* path, FileMode mode) {
  close();
  not_regular_ = false;
  error_ = 0;
  if (path == nullptr) return false;
  const bool reading = mode == FileMode::kReadBinary || mode == FileMode::kReadUpdate;
  if (reading) {
    // Checked before opening: opening a FIFO for reading would wait for a writer.
    std::error_code ignored;
    const auto status = std::filesystem::status(path, ignored);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
      not_regular_ = true;
      return false;
    }
  }
  clear_os_error();
  stream_ = std::fopen(path, binary_mode(mode));
  if (stream_ == nullptr) {
    note_error();
    return false;
  }
  text_ = mode == FileMode::kWriteText || mode == FileMode::kAppendText;
  // Unbuffered, so that a short write count is the count on disk: with a
  // buffer, bytes taken could still be lost at the next flush or the close.
  if (!reading) std::setvbuf(stream_, nullptr, _IONBF, 0);
  return true;
}

std::size_t File::write(const void* data, std::size_t length) {
  if (stream_ == nullptr) return 0;
  const auto* bytes = static_cast<const unsigned char*>(data);
  clear_os_error();
  if (!text_) {
    const std::size_t done = std::fwrite(bytes, 1, length, stream_);
    if (done != length) note_error();
    return done;
  }
  // Translated into a small block, so a line costs one write rather than one
  // per run between line feeds.
  unsigned char block[1024];
  std::size_t done = 0;
  while (done < length) {
    std::size_t fill = 0;
    std::size_t taken = 0;
    while (done + taken < length && fill + 2 <= sizeof block) {
      const unsigned char byte = bytes[done + taken++];
      if (byte == '\n') block[fill++] = '\r';
      block[fill++] = byte;
    }
    if (const std::size_t put = std::fwrite(block, 1, fill, stream_); put != fill) {
      note_error();
      // The caller's bytes whose translation reached the file whole.
      std::size_t on_disk = 0;
      std::size_t whole = 0;
      for (; whole < taken; ++whole) {
        on_disk += bytes[done + whole] == '\n' ? 2 : 1;
        if (on_disk > put) break;
      }
      return done + whole;
    }
    done += taken;
  }
  return done;
}

bool File::write_text(const char* text) {
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  return write(text, length) == length;
}

std::size_t File::read(void* buffer, std::size_t length) {
  if (stream_ == nullptr) return 0;
  clear_os_error();
  const std::size_t done = std::fread(buffer, 1, length, stream_);
  if (done != length && std::ferror(stream_) != 0) note_error();
  return done;
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
  if (stream_ == nullptr) return false;
  clear_os_error();
  if (std::fflush(stream_) == 0) return true;
  note_error();
  return false;
}

bool File::close() {
  if (stream_ == nullptr) return true;
  clear_os_error();
  const bool closed = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!closed) note_error();
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
