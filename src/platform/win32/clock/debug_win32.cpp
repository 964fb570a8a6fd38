// Debugger output on Windows: the library's texts are ASCII and go out as
// wide strings through OutputDebugStringW.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/os.h"

namespace maltor::platform {

void debug_output(const char* text) {
  if (text == nullptr) return;
  // Widened piecewise on the stack: a debug trace allocates nothing.
  wchar_t wide[256];
  while (*text != '\0') {
    std::size_t length = 0;
    while (length < sizeof wide / sizeof wide[0] - 1 && text[length] != '\0') {
      wide[length] = static_cast<wchar_t>(static_cast<unsigned char>(text[length]));
      ++length;
    }
    wide[length] = L'\0';
    OutputDebugStringW(wide);
    text += length;
  }
}

}  // namespace maltor::platform
