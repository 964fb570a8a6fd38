// The gateway frame: length (u16), command, qualifier, payload and an 8- or
// 16-bit sum of command, qualifier and payload, optionally behind a lead-in
// of four zero bytes. The gateway update and the gateway configuration send
// it through gateway_exchange below (a 5-byte reply, read with the fixed
// wait), the update's completion frame through send_only, which reads nothing.
#pragma once

#include <cstdint>

#include "link/exchange_lock.h"

namespace maltor::link {

enum class SumWidth : std::uint8_t { k8, k16 };

inline constexpr std::uint32_t kLeadInBytes = 4;
// No gateway frame, lead-in included, is longer.
inline constexpr std::uint32_t kMaxGatewayFrame = 16384;
inline constexpr std::uint32_t kGatewayReplyBytes = 5;
inline constexpr std::uint32_t kGatewayStatusByte = 4;

// Builds the frame in slot 0's request area from its first byte and returns
// its length, lead-in included. `payload` may be null when `n` is 0.
std::uint32_t build_gateway_frame(bool lead_in, std::uint8_t command, std::uint8_t qualifier,
                                  const std::uint8_t* payload, std::uint32_t n, SumWidth sum)
    MALTOR_REQUIRES(g_exchange_lock);

// Writes `length` bytes of the request area (the write bounded by
// `timeout_ms`) and, if that moved bytes, reads the reply. True when the
// gateway took the frame: the read moved bytes and, with `check_status`
// (device kind 1), the gateway status byte is 0.
bool gateway_exchange(std::uint32_t length, std::uint32_t timeout_ms, bool check_status)
    MALTOR_REQUIRES(g_exchange_lock);

// Clears the first 16,384 bytes of the request and reply areas, so that the
// lead-in and any reply byte that does not arrive read as zero.
void clear_gateway_areas() MALTOR_REQUIRES(g_exchange_lock);

}  // namespace maltor::link
