// Debugger output on Linux and macOS. There is no debugger channel such as
// OutputDebugStringW here, so the texts are dropped.
#include "platform/os.h"

namespace maltor::platform {

void debug_output(const char*) {}

}  // namespace maltor::platform
