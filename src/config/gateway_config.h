// Configuration to the gateway: an announce frame and blocks of 16,378
// bytes in gateway frames, with an account in the configuration log.
#pragma once

#include <cstdint>

namespace maltor::config {

// The largest image whose block count fits 16 bits: 65,536 blocks of 16,378
// bytes would not.
inline constexpr std::uint32_t kMaxGatewayConfiguration = 65536u * 16378u - 1u;

// SendTaloqConfiguration: 0, 1 while a firmware update runs, 6 when an
// exchange failed or was refused, 11 for a null image or one too large.
std::uint8_t send_gateway_configuration(std::uint32_t length, const std::uint8_t* data);

}  // namespace maltor::config
