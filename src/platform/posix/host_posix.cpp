// The executable's folder on Linux and macOS.
#include <unistd.h>

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

}  // namespace maltor::platform
