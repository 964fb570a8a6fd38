// Host side of the platform layer: debug output, the executable's folder, a
// tag for the calling thread, events and files.
//
// The thread tag and events are written once over the C++ standard library
// (the core takes its threads and locks from the standard library itself);
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

// ---- Threads -------------------------------------------------------------

// A number for the calling thread, the same on every call from it and never
// 0 (which a backend's cancel filter reads as "any thread"). The backends
// note it on each transfer, so a cancel can end the calling thread's own.
std::uint64_t this_thread_tag();

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
// Writes are unbuffered, so a write that returns has put its bytes into the
// file, and a short count says exactly how many got there.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { close(); }

  // The read modes open regular files only: a folder or a device (which
  // would read nothing, or without end) is refused as unreadable.
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
  // Closes the file; false when the close failed. True when none was open.
  bool close();

  // The OS error of the last call that failed (errno, or the Windows system
  // error); 0 when it failed without one.
  std::int32_t error() const { return error_; }
  // True when the last open was refused because the path is no regular file.
  bool not_regular() const { return not_regular_; }

 private:
  void note_error();

  std::FILE* stream_ = nullptr;
  bool text_ = false;
  bool not_regular_ = false;
  std::int32_t error_ = 0;
};

// The OS error the C runtime left for the calling thread's last failed call
// (errno; on Windows the system error behind it when there is one).
std::int32_t last_os_error();
// Clears what last_os_error reports, before a call that is to be judged.
void clear_os_error();
// An English text for an OS error, whatever the process's locale.
void os_error_text(std::int32_t error, char* out, std::size_t capacity);

// Deletes a regular file or a link; false when it did not exist, is
// something else (a device node, a pipe, a folder) or could not be deleted.
bool remove_file(const char* path);
// Creates a folder; true when it exists afterwards.
bool make_folder(const char* path);

}  // namespace maltor::platform
