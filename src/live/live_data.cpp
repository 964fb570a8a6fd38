#include "live/live_data.h"

#include <cstring>

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"
#include "link/transfer.h"
#include "live/live_read.h"
#include "platform/clock.h"
#include "platform/os.h"

namespace maltor::live {

namespace {

// Reads what the device still sends after a stop and drops it, so the next
// start of live data begins with an empty pipe.
void drain(platform::Handle usb) {
  const std::int64_t t0 = platform::now_seconds();
  while (platform::now_seconds() < t0 + kDrainSeconds) {
    platform::debug_output("ClearLiveData In\n");
    if (!link::device_open()) continue;
    const std::uint32_t count = begin_read(link::slot0().usb);
    if (poll_read(link::slot0().file, count, t0 + kDrainSeconds - 1) == Poll::kComplete) {
      finish_read();
    }
  }
  abandon_pending(usb);
}

}  // namespace

std::uint8_t start_live_data(std::uint8_t parameter) {
  link::Exchange exchange(link::CommandId::kStartLiveData);
  if (!exchange.ready()) return exchange.refusal();
  link::g_exchange_lock.assert_held();  // held by the exchange
  platform::debug_output("DLL_SC_USBStartLiveData In\n");
  exchange.payload()[0] = parameter;
  // Written and read step by step: a debug text marks each step.
  link::seal_frame(link::buffer0().bytes_to_write);

  platform::debug_output("DLL_SC_USBStartLiveData 1\n");
  if (link::WriteCommand(0) == 0) return kExchangeFailed;
  platform::debug_output("DLL_SC_USBStartLiveData 2\n");
  if (link::ReadReply(0) == 0) {
    platform::debug_output("DLL_SC_USBStartLiveData Err\n");
    return kExchangeFailed;
  }
  clear_pending_flag();
  platform::debug_output("DLL_SC_USBStartLiveData Out\n");
  return kOk;
}

std::uint8_t stop_live_data(std::uint8_t parameter) {
  platform::Handle usb = link::kInvalidHandle;
  {
    link::Exchange exchange(link::CommandId::kStopLiveData);
    if (!exchange.ready()) return exchange.refusal();
    usb = link::slot0().usb;
    exchange.payload()[0] = parameter;
    if (const auto result = exchange.run(); result != kOk) return result;
  }
  // The drain reads the stream for a second or two: not an exchange, so
  // other threads' exchanges go on meanwhile.
  drain(usb);
  return kOk;
}

std::uint8_t get_live_data(std::uint8_t* destination) {
  if (destination == nullptr) return maltor::detail::refused_argument(kBadArgument);
  platform::debug_output("GetLiveData In\n");
  std::memset(destination, 0, kRecordSize);
  if (!link::device_open()) return maltor::detail::no_device();
  const std::uint32_t count = begin_read(link::slot0().usb);
  const std::int64_t t0 = platform::now_seconds();
  if (poll_read(link::slot0().file, count, t0 + kShortReadSeconds) != Poll::kComplete) {
    return kExchangeFailed;
  }
  std::memcpy(destination, record(), kRecordSize);
  finish_read();
  return kOk;
}

}  // namespace maltor::live
