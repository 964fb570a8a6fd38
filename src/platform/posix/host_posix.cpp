// The executable's folder and OS error texts on Linux and macOS.
#include <locale.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/os.h"

namespace maltor::platform {

bool executable_folder(char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return false;
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return false;
  path[length] = '\0';
  char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return false;
  *slash = '\0';
  const std::size_t needed = std::strlen(path) + 1;
  if (needed > capacity) return false;
  std::memcpy(out, path, needed);
  return true;
}

std::int32_t last_os_error() {
  return errno;
}

void clear_os_error() {
  errno = 0;
}

// strerror follows the process's message locale; the text here is always the
// C locale's English.
void os_error_text(std::int32_t error, char* out, std::size_t capacity) {
  if (out == nullptr || capacity == 0) return;
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  const char* text =
      c_locale != static_cast<locale_t>(nullptr) ? strerror_l(error, c_locale) : nullptr;
  if (text != nullptr) {
    std::snprintf(out, capacity, "%s", text);
  } else {
    std::snprintf(out, capacity, "error %d", static_cast<int>(error));
  }
}

}  // namespace maltor::platform
