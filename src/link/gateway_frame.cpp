#include "link/gateway_frame.h"

#include <cstring>

#include "link/device_table.h"
#include "link/exchange.h"

namespace maltor::link {

std::uint32_t build_gateway_frame(bool lead_in, std::uint8_t command, std::uint8_t qualifier,
                                  const std::uint8_t* payload, std::uint32_t n, SumWidth sum) {
  std::uint8_t* frame = buffer0().request;
  const std::uint32_t start = lead_in ? kLeadInBytes : 0;
  if (lead_in) std::memset(frame, 0, kLeadInBytes);
  const std::uint32_t sum_bytes = sum == SumWidth::k8 ? 1 : 2;
  const std::uint32_t length = start + 4 + n + sum_bytes;
  std::uint8_t* at = frame + start;
  put_u16(at, static_cast<std::uint16_t>(length));
  at[2] = command;
  at[3] = qualifier;
  if (n > 0) std::memcpy(at + 4, payload, n);
  std::uint32_t total = 0;
  for (std::uint32_t i = 2; i < 4 + n; ++i) total += at[i];
  if (sum == SumWidth::k8) {
    at[4 + n] = static_cast<std::uint8_t>(total);
  } else {
    put_u16(at + 4 + n, static_cast<std::uint16_t>(total));
  }
  return length;
}

bool gateway_exchange(std::uint32_t length, std::uint32_t timeout_ms, bool check_status) {
  if (raw_exchange(length, kGatewayReplyBytes, timeout_ms, Reader::kFixed) == 0) {
    return false;
  }
  return !check_status || buffer0().reply[kGatewayStatusByte] == 0;
}

void clear_gateway_areas() {
  TransferBuffer& buffer = buffer0();
  std::memset(buffer.request, 0, kMaxGatewayFrame);
  std::memset(buffer.reply, 0, kMaxGatewayFrame);
}

}  // namespace maltor::link
