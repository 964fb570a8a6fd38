// Loads MaltorUSBdrv.dll from the program's folder and checks it as an
// application sees it. Argument: the .def file that lists the exported names.
// With no device attached, DeviceIsReady must return 0 and GetConnected 7
// without touching the record. Exit code 0 when every check passed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "MaltorUSBdrv.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
  std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
  if (!ok) ++failures;
}

void* find(HMODULE dll, const std::string& name) {
  return reinterpret_cast<void*>(GetProcAddress(dll, name.c_str()));
}

template <typename Function>
Function resolve(HMODULE dll, const char* name) {
  return reinterpret_cast<Function>(find(dll, name));
}

// Every name of the EXPORTS section resolves; "Second = Primary" resolves to
// the primary's address.
void check_def_names(HMODULE dll, const char* def_path) {
  std::ifstream def(def_path);
  check(def.is_open(), std::string("open ") + def_path);
  std::string line;
  bool in_exports = false;
  int names = 0;
  while (std::getline(def, line)) {
    std::istringstream words(line);
    std::string name, equals, primary;
    words >> name >> equals >> primary;
    if (name.empty() || name[0] == ';') continue;
    if (name == "EXPORTS") {
      in_exports = true;
      continue;
    }
    if (!in_exports) continue;
    ++names;
    const void* address = find(dll, name);
    if (address == nullptr) check(false, "export " + name);
    if (equals == "=" && address != find(dll, primary)) {
      check(false, name + " is a second name of " + primary);
    }
  }
  check(names > 0, std::to_string(names) + " names of the .def file resolved");
}

}  // namespace

int main(int argc, char** argv) {
  HMODULE dll = LoadLibraryA("MaltorUSBdrv.dll");
  check(dll != nullptr,
        "LoadLibrary MaltorUSBdrv.dll (error " + std::to_string(GetLastError()) + ")");
  if (dll == nullptr) return 1;
  if (argc > 1) check_def_names(dll, argv[1]);

  const auto device_is_ready = resolve<decltype(&DeviceIsReady)>(dll, "DeviceIsReady");
  const auto get_connected = resolve<decltype(&GetConnected)>(dll, "GetConnected");
  const auto close_device = resolve<decltype(&CloseDevice)>(dll, "CloseDevice");
  if (device_is_ready == nullptr || get_connected == nullptr || close_device == nullptr) {
    check(false, "connection exports present");
    return 1;
  }

  check(device_is_ready() == 0, "DeviceIsReady returns 0 with no device");
  MaltorConnection record;
  std::memset(&record, 0xA5, sizeof record);
  check(get_connected(&record) == MALTOR_ERR_NO_DEVICE, "GetConnected returns 7 with no device");
  unsigned char untouched[sizeof record];
  std::memset(untouched, 0xA5, sizeof untouched);
  check(std::memcmp(&record, untouched, sizeof record) == 0,
        "GetConnected leaves the record alone");
  close_device();
  check(device_is_ready() == 0, "DeviceIsReady after CloseDevice returns 0");

  check(FreeLibrary(dll) != FALSE, "FreeLibrary");
  std::printf("%s\n", failures == 0 ? "real DLL check passed" : "real DLL check FAILED");
  return failures == 0 ? 0 : 1;
}
