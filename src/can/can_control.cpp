#include "can/can_control.h"

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

namespace maltor::can {

std::uint8_t run_control(const ControlRow& row, void* out, std::span<const std::uint32_t> args) {
  if (row.decode != Decode::kNothing && out == nullptr)
    return maltor::detail::refused_argument(kBadArgument);
  link::Exchange exchange(row.command);
  if (!exchange.ready()) return exchange.refusal();

  std::uint8_t* at = exchange.payload();
  for (std::size_t f = 0; f < row.field_count; ++f) {
    for (std::uint8_t b = 0; b < row.widths[f]; ++b) {
      *at++ = static_cast<std::uint8_t>(args[f] >> (8 * b));
    }
  }
  if (const auto result = exchange.run(); result != kOk) return result;

  const std::uint8_t* data = exchange.reply() + link::kReplyDataOffset;
  switch (row.decode) {
    case Decode::kReplyWord:
      *static_cast<std::uint32_t*>(out) = link::get_u32(data);
      break;
    case Decode::kReplyByte:
      *static_cast<std::uint8_t*>(out) = data[0];
      break;
    case Decode::kNothing:
      break;
  }
  return kOk;
}

}  // namespace maltor::can
