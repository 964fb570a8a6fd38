// Helpers for tests of the stream IN pipe.
#pragma once

#include <cstdint>
#include <mutex>

#include "sim/virtual_bus.h"

namespace maltor::test {

// Reads of a device's pipe that are waiting for data right now.
inline int waiting_reads(std::int32_t device, std::uint8_t pipe) {
  sim::VirtualBus& bus = sim::VirtualBus::get();
  std::lock_guard held(bus.lock);
  int n = 0;
  for (const sim::SimIo* io = bus.by_id(device)->reads; io != nullptr; io = io->next) {
    n += io->pipe == pipe;
  }
  return n;
}

}  // namespace maltor::test
