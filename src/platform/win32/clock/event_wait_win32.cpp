// Timed event waits on Windows: the host's real time, as the other clocks.
#include "platform/clock.h"
#include "platform/os.h"

namespace maltor::platform {

bool wait_event(Event& event, std::uint32_t timeout_ms) {
  return event.wait_real(timeout_ms);
}

}  // namespace maltor::platform
