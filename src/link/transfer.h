// The writer and the two readers every command exchange goes through. Each
// moves the frame or reply of a slot's transfer buffer over its command pipes
// with an overlapped transfer and a bounded wait.
#pragma once

#include <cstdint>

#include "link/exchange_lock.h"

namespace maltor::link {

// The fixed wait of ReadReply, whatever the control header says.
inline constexpr std::uint32_t kFixedReadWaitMs = 5000;

// Writes bytes-to-write bytes of the request area on the command OUT pipe,
// waiting at most the header's timeout. Returns the bytes written; 0 is failure.
std::uint16_t WriteCommand(std::uint8_t slot) MALTOR_REQUIRES(g_exchange_lock);
// Reads up to bytes-to-read bytes into the reply area, waiting at most 5,000 ms.
std::uint32_t ReadReply(std::uint8_t slot) MALTOR_REQUIRES(g_exchange_lock);
// The same, waiting at most the header's timeout.
std::uint32_t ReadReplyTimed(std::uint8_t slot) MALTOR_REQUIRES(g_exchange_lock);

}  // namespace maltor::link
