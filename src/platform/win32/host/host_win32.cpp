// The executable's folder and OS error texts on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: the runtime headers below are used alongside it.
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/os.h"

namespace maltor::platform {

bool executable_folder(char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  char path[4096];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  // A length that fills the buffer means the path was cut short.
  if (length == 0 || length >= sizeof path) return false;
  char* separator = std::strrchr(path, '\\');
  char* slash = std::strrchr(path, '/');
  if (separator == nullptr || (slash != nullptr && slash > separator)) separator = slash;
  if (separator == nullptr) return false;
  *separator = '\0';
  const std::size_t needed = std::strlen(path) + 1;
  if (needed > capacity) return false;
  std::memcpy(out, path, needed);
  return true;
}

// The runtime keeps the system error behind a failed file call in _doserrno;
// a write the disk could take only in part leaves just errno ENOSPC.
std::int32_t last_os_error() {
  if (_doserrno != 0) return static_cast<std::int32_t>(_doserrno);
  if (errno == ENOSPC) return ERROR_DISK_FULL;
  return static_cast<std::int32_t>(GetLastError());
}

void clear_os_error() {
  errno = 0;
  _doserrno = 0;
  SetLastError(0);
}

// The system's English text, without its closing period and line break.
void os_error_text(std::int32_t error, char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD n = FormatMessageA(flags, nullptr, static_cast<DWORD>(error),
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), out,
                           static_cast<DWORD>(capacity), nullptr);
  while (n > 0 &&
         (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == '.' || out[n - 1] == ' ')) {
    out[--n] = '\0';
  }
  if (n == 0) std::snprintf(out, capacity, "system error %ld", static_cast<long>(error));
}

}  // namespace maltor::platform
