// Logger and gateway update frames of the virtual device.
#include "platform/sim/model/command_handlers.h"
#include "platform/sim/model/device_model.h"

namespace maltor::sim {

// Logger and gateway frames: not answered yet.
bool update_layouts(DeviceModel&, const std::uint8_t*, std::uint32_t) { return false; }

}  // namespace maltor::sim
