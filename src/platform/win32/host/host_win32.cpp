// The executable's folder on Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

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

}  // namespace maltor::platform
