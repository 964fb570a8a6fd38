#include "link/reply_decode.h"

namespace maltor::link {

void pack_payload(std::uint8_t* payload, const PayloadLayout& layout,
                  std::span<const std::uint32_t> args) {
  for (std::size_t i = 0; i < layout.count; ++i) {
    for (std::uint8_t b = 0; b < layout.widths[i]; ++b) {
      *payload++ = static_cast<std::uint8_t>(args[i] >> (8 * b));
    }
  }
}

}  // namespace maltor::link
