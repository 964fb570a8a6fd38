#include "link/mirel_frame.h"

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

namespace maltor::link {

std::uint8_t* mirel_payload() {
  return buffer0().request + kMirelPayloadOffset;
}

std::uint32_t build_mirel_frame(std::uint16_t command, std::uint32_t payload_length) {
  std::uint8_t* frame = buffer0().request;
  const std::uint32_t length = kMirelPayloadOffset + payload_length + 1;
  for (int i = 0; i < 6; ++i) frame[i] = 0;
  put_u16(frame + 6, command);
  frame[length - 1] = additive_sum(frame, length - 1);
  put_u16(frame + 4, static_cast<std::uint16_t>(length));
  return length;
}

MirelExchange::MirelExchange(std::uint16_t command, std::uint32_t payload_length)
    : command_(command), payload_length_(payload_length), refusal_(turn_.open_test()) {}

std::uint8_t MirelExchange::run(std::uint32_t read_length, std::uint32_t timeout_ms) {
  if (refusal_ != kOk) return refusal_;
  g_exchange_lock.assert_held();
  const std::uint32_t length = build_mirel_frame(command_, payload_length_);
  reply_count_ = raw_exchange(length, read_length, timeout_ms, Reader::kFixed);
  if (reply_count_ == 0) return kExchangeFailed;
  const std::uint8_t status = reply()[kMirelStatusOffset];
  if (status != kOk) {
    detail::set(status, detail::kDevice, 0, 0, 0,
                "the device refused command 0x%04X with status %u", command_, status);
  }
  return status;
}

const std::uint8_t* MirelExchange::reply() const {
  g_exchange_lock.assert_held();
  return buffer0().reply;
}

}  // namespace maltor::link
