// The library's entry point on Windows. Process attach and detach run the
// library's load and unload actions; thread attach and detach need nothing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "link/connection.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      maltor::link::library_attach();
      break;
    case DLL_PROCESS_DETACH:
      maltor::link::library_detach();
      break;
    default:
      break;
  }
  return TRUE;
}
