// The library's entry point: the loader runs the load and unload actions as
// it maps and unmaps the library, through DllMain's process attach and detach
// on Windows and a constructor and destructor on ELF and Mach-O systems.
#include "link/connection.h"

#if defined(_WIN32)

// BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID), spelled in the C types behind
// those names; thread attach and detach need nothing.
extern "C" int __stdcall DllMain(void*, unsigned long reason, void*) {
  constexpr unsigned long kProcessDetach = 0;
  constexpr unsigned long kProcessAttach = 1;
  if (reason == kProcessAttach) maltor::link::library_attach();
  if (reason == kProcessDetach) maltor::link::library_detach();
  return 1;
}

#else

namespace {

__attribute__((constructor)) void on_load() {
  maltor::link::library_attach();
}
__attribute__((destructor)) void on_unload() {
  maltor::link::library_detach();
}

}  // namespace

#endif
