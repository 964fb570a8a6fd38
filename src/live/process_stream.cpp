#include "live/process_stream.h"

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

namespace maltor::live {

namespace {

std::uint8_t plain_command(link::CommandId id) {
  link::Exchange exchange(id);
  if (!exchange.ready()) return exchange.refusal();
  return exchange.run();
}

}  // namespace

std::uint8_t start_process_data() {
  return plain_command(link::CommandId::kStartProcessData);
}

std::uint8_t stop_process_data() {
  return plain_command(link::CommandId::kStopProcessData);
}

std::uint8_t send_stream_data(const std::uint8_t* data, std::uint32_t length) {
  if (data == nullptr && length > 0) return maltor::detail::refused_argument(kBadArgument);
  // Not an exchange, but it sends: refused like one while an update is alive.
  const link::ExchangeTurn turn;
  if (const std::uint8_t refused = turn.open_test(); refused != kOk) return refused;
  // The count written is not compared with the length: only the call's
  // success value counts.
  std::uint32_t written = 0;
  const bool ok =
      platform::pipe_write_sync(link::slot0().usb, link::kStreamOutPipe, data, length, &written);
  return ok ? kOk : kExchangeFailed;
}

}  // namespace maltor::live
