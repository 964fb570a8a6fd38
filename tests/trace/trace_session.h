// One short session of standard exchanges, run through the exports with a
// USB trace, by the virtual device's sample program and by the libusb
// backend's test over an emulated device, so their traces can be compared.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"

namespace maltor::test {

// Traces the session into `path`; true when every exchange succeeded.
inline bool run_traced_session(const char* path) {
  if (MaltorTraceStart(path) != MALTOR_OK) return false;
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  std::uint8_t block[128] = {};
  std::uint8_t info_byte = 0;
  std::uint32_t value = 0;
  std::uint16_t count = 0;
  std::uint32_t reply = 0;
  const bool done = SCGetFirmwareVersion(&word, &a, &b, &c) == MALTOR_OK &&
                    SCGetSerialNumber(block) == MALTOR_OK &&
                    GetMaltorInfo(&info_byte, &value) == MALTOR_OK &&
                    SCSDLogCount(&count) == MALTOR_OK && SCGetDateTime(&value) == MALTOR_OK &&
                    CANBusOpen(&reply, 0, 0) == MALTOR_OK && CANBusClose(&reply, 0) == MALTOR_OK;
  MaltorTraceStop();
  return done;
}

}  // namespace maltor::test
