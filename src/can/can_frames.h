// Single CAN frames: CANTx hands one to the device, CANRx polls the device
// until it delivers one or the caller's timeout runs out.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"

namespace maltor::can {

// Every frame goes out with these two values, whatever the caller set.
inline constexpr std::uint32_t kSentIdentifier = 2016;
inline constexpr std::uint32_t kSentReturnedWord = 2000;

std::uint8_t transmit(MaltorCanMessage* message);
std::uint8_t receive(std::uint16_t* frame_count, MaltorCanMessage* message);

}  // namespace maltor::can
