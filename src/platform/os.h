// Host side of the platform layer: debug output, the executable's folder,
// threads, a critical section, events and files.
//
// Threads, locks and events are written once over the C++ standard library;
// debug output and the executable's folder are per host OS; files are written
// in binary mode everywhere and the text-mode newline translation is done here,
// so a file the library writes has the same bytes on every OS.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace maltor::platform {

// ---- Debug output --------------------------------------------------------

// Sends a text to the debugger output (OutputDebugStringW on Windows).
void debug_output(const char* text);

// ---- Module path ---------------------------------------------------------

// Writes the folder of the running executable, without a trailing separator,
// into `out`. Returns false when it does not fit or cannot be found.
bool executable_folder(char* out, std::size_t capacity);

// ---- Critical section ----------------------------------------------------

using CriticalSection = std::mutex;

// ---- Events --------------------------------------------------------------

// A manual- or automatic-reset event like the Win32 one.
class Event {
 public:
  explicit Event(bool manual_reset) : manual_reset_(manual_reset) {}
  void set();
  void reset();
  // Waits at most `timeout_ms` on the platform clock (wait_event in clock.h),
  // so the virtual device's build waits in virtual time; true when signalled.
  bool wait(std::uint32_t timeout_ms);
  bool is_set();
  // Takes the signal if the event is signalled (an automatic-reset event is
  // reset by it); never waits. For the clock backends' wait_event.
  bool take();
  // Waits at most `timeout_ms` real milliseconds; for the host clocks' wait_event.
  bool wait_real(std::uint32_t timeout_ms);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool manual_reset_;
  bool signalled_ = false;
};

// ---- Files ---------------------------------------------------------------

// How a file is opened. Text modes write "\n" as "\r\n" on every OS.
enum class FileMode : std::uint8_t {
  kReadBinary,    // "rb"
  kReadUpdate,    // "r+b": an existing file, opened for reading and writing
  kWriteBinary,   // "wb"
  kAppendBinary,  // "ab"
  kWriteText,     // "w" / "w+": created empty, LF written as CR LF
  kAppendText,    // "a": appended, LF written as CR LF
};

// A file opened through the platform layer. Closes itself on destruction.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  bool open(const char* path, FileMode mode);
  bool is_open() const { return stream_ != nullptr; }
  // Writes `length` bytes (translated in text mode); returns the bytes taken.
  std::size_t write(const void* data, std::size_t length);
  // Writes a NUL-terminated text.
  bool write_text(const char* text);
  std::size_t read(void* buffer, std::size_t length);
  bool seek(std::int64_t offset, int origin);
  std::int64_t tell();
  bool flush();
  void close();
  // Closes the file; false when the bytes still buffered could not be written.
  bool close_checked();

 private:
  std::FILE* stream_ = nullptr;
  bool text_ = false;
};

// Deletes a regular file or a link; false when it did not exist, is
// something else (a device node, a pipe, a folder) or could not be deleted.
bool remove_file(const char* path);
// Creates a folder; true when it exists afterwards.
bool make_folder(const char* path);

}  // namespace maltor::platform
