#include "link/reply_decode.h"

namespace maltor::link {

void pack_payload(std::uint8_t* payload, const PayloadLayout& layout,
                  std::span<const std::uint32_t> args) {
  for (std::size_t i = 0; i < layout.count; ++i) {
    put_le(payload, args[i], layout.widths[i]);
    payload += layout.widths[i];
  }
}

}  // namespace maltor::link
