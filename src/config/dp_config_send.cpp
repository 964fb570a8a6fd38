#include <cstring>

#include "config/dp_config.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/file_transfer.h"
#include "link/result.h"

namespace maltor::config {

std::uint8_t send_configuration(const char* path, std::uint16_t* status) {
  if (path == nullptr || status == nullptr) return maltor::detail::refused_argument(kBadArgument);
  const link::ExchangeTurn turn;  // from the image's load to the last reply
  if (!turn.granted()) return kUpdateRunning;
  const std::uint32_t limit = link::chunk_limit();
  std::uint32_t length = 0;
  if (!link::load_image(path, &length)) return kTransferFailed;

  // The length, then file bytes 6 to 21 (zeros where a short file ends).
  std::uint8_t start[20];
  link::put_u32(start, length);
  std::memcpy(start + 4, link::image() + 6, 16);
  const link::TransferOutcome outcome =
      link::run_file_transfer(link::kReconfigureCommands, start, length, limit, link::g_sequence);
  // The device's final status word. Should the end reply fail, the reply
  // area still holds the reply before it, and that is what is copied.
  if (outcome.end_written) {
    *status = link::get_u16(link::buffer0().reply + link::kReplyDataOffset);
  }
  return outcome.done ? kOk : kTransferFailed;
}

}  // namespace maltor::config
