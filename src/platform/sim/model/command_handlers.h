// How the virtual device answers each frame layout written on the command
// pipe. Standard frames go through a table of handlers, one row per command
// code; each handler fills the reply's data bytes.
#pragma once

#include <cstdint>

namespace maltor::sim {

class DeviceModel;

struct CommandHandlers {
  // Answers one frame written on the command OUT pipe.
  static void dispatch(DeviceModel& model, const std::uint8_t* frame, std::uint32_t length);
};

}  // namespace maltor::sim
