#include "live/process_stream.h"

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

namespace maltor::live {

namespace {

std::uint8_t plain_command(link::CommandId id) {
  link::Exchange exchange(id);
  if (!exchange.ready()) return kNoDevice;
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
  if (!link::device_open()) return maltor::detail::no_device();
  // The count written is not compared with the length: only the call's
  // success value counts.
  std::uint32_t written = 0;
  const bool ok =
      platform::pipe_write_sync(link::slot0().usb, link::kStreamOutPipe, data, length, &written);
  return ok ? kOk : kExchangeFailed;
}

}  // namespace maltor::live
