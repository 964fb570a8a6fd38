#include "loader.h"

#include "MaltorUSBdrv.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace maltor::tool::loader {

#ifdef _WIN32

std::string library_file_name(std::string_view name) {
  return std::string(name) + ".dll";
}

std::string executable_folder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string folder(path, length);
  const std::size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string{} : folder.substr(0, slash);
}

void* open(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) error = "LoadLibrary error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}

RawFunction find(void* library, const char* name) {
  // FARPROC to void(*)() first: that type converts to any function pointer without a warning.
  return reinterpret_cast<RawFunction>(GetProcAddress(static_cast<HMODULE>(library), name));
}

#else

std::string library_file_name(std::string_view name) {
  // The versioned name: the runtime package has no plain .so link.
  return "lib" + std::string(name) + ".so." + std::to_string(MALTOR_USBDRV_VERSION_MAJOR);
}

std::string executable_folder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string folder(path, static_cast<std::size_t>(length));
  const std::size_t slash = folder.find_last_of('/');
  return slash == std::string::npos ? std::string{} : folder.substr(0, slash);
}

void* open(const std::string& path, std::string& error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    error = reason != nullptr ? reason : "dlopen failed";
  }
  return library;
}

RawFunction find(void* library, const char* name) {
  return reinterpret_cast<RawFunction>(dlsym(library, name));
}

#endif

}  // namespace maltor::tool::loader
