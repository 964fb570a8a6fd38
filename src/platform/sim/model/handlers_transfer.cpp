// File-transfer frames (reflash and data-processor configuration) of the
// virtual device.
#include "platform/sim/model/command_handlers.h"
#include "platform/sim/model/device_model.h"

namespace maltor::sim {

std::span<const HandlerRow> transfer_rows() { return {}; }

}  // namespace maltor::sim
