#include "update/gateway_update.h"

#include <string>

#include "link/connection.h"
#include "link/device_table.h"
#include "link/exchange.h"
#include "link/gateway_frame.h"
#include "update/progress_log.h"
#include "update/update_control.h"

namespace maltor::update {

namespace {

using link::build_gateway_frame;
using link::clear_gateway_areas;
using link::gateway_exchange;
using link::SumWidth;

constexpr char kTitle[] = "Varden Gateway reprogramming started at ";

constexpr std::uint8_t kAnnounceCommand = 0x10;
constexpr std::uint8_t kAnnounceQualifier = 0x13;
constexpr std::uint8_t kBlockCommand = 0x13;
constexpr std::uint8_t kBlockQualifier = 0x00;
constexpr std::uint8_t kCompletionCommand = 0x61;
constexpr std::uint8_t kCompletionQualifier = 0x01;

constexpr std::uint32_t kFrameTimeoutMs = 2000;
constexpr std::uint32_t kCompletionTimeoutMs = 100;
constexpr std::uint32_t kAreaBytes = 16384;
constexpr std::uint32_t kMaxAreas = 0xFFFF;  // the area count is held in 16 bits
// Block payload limits, so that no frame exceeds 16,384 bytes.
constexpr std::uint32_t kLeadInBlockBytes = 16374;
constexpr std::uint32_t kBlockBytes = 16378;

struct Gateway {
  bool kind1;  // lead-in on every frame and a status byte in every reply
  std::uint32_t block_limit;
};

bool announce(const Gateway& gateway, std::uint32_t size) MALTOR_REQUIRES(link::g_exchange_lock) {
  clear_gateway_areas();
  std::uint8_t payload[4];
  link::put_u32(payload, size);
  const std::uint32_t length = build_gateway_frame(gateway.kind1, kAnnounceCommand,
                                                   kAnnounceQualifier, payload, 4, SumWidth::k8);
  return gateway_exchange(length, kFrameTimeoutMs, gateway.kind1);
}

// The block loop and the trailer. True when every byte was acknowledged.
bool transfer(const Gateway& gateway, std::uint32_t size, std::uint32_t areas) {
  platform::File& firmware = firmware_file();
  platform::File& log = progress_log();
  const std::uint32_t step = 100 / areas;
  std::uint8_t progress = 0;
  std::uint32_t acknowledged_blocks = 0;  // wider than the area count: kind 1 sends more blocks
  std::uint32_t acknowledged_bytes = 0;

  std::uint8_t block[kBlockBytes];
  std::uint32_t n = static_cast<std::uint32_t>(firmware.read(block, gateway.block_limit));
  while (n > 0) {
    if (stop_requested()) break;
    bool taken = false;
    {
      // Block by block, so the connection calls of other threads get in
      // between.
      const link::SlotLock held;
      clear_gateway_areas();
      const std::uint32_t length = build_gateway_frame(gateway.kind1, kBlockCommand,
                                                       kBlockQualifier, block, n, SumWidth::k16);
      taken = gateway_exchange(length, kFrameTimeoutMs, gateway.kind1);
    }
    if (!taken) {
      write_log_line(log, "Block " + std::to_string(acknowledged_blocks) + " bytes    " +
                              std::to_string(n) + "  CRC - Failed\r\n");
      break;
    }
    progress = static_cast<std::uint8_t>(progress + step);
    ++acknowledged_blocks;
    acknowledged_bytes += n;
    if (acknowledged_bytes == size) {
      report_progress(100);
      break;
    }
    report_progress(progress);
    n = static_cast<std::uint32_t>(firmware.read(block, gateway.block_limit));
  }
  const bool finished = acknowledged_bytes == size;
  write_log_trailer(log, acknowledged_bytes, finished);
  return finished;
}

// Reconnects to the gateway and tells it the image is complete.
void completion_tail() {
  // Closed, found again and told in one hold, so no other thread's frame
  // comes between the reconnect and the completion frame.
  const link::SlotLock held;
  link::close_device();
  link::ReopenDevice();
  clear_gateway_areas();
  if (!link::device_open()) return;
  const std::uint32_t length = build_gateway_frame(link::slot0().kind == 1, kCompletionCommand,
                                                   kCompletionQualifier, nullptr, 0, SumWidth::k8);
  link::send_only(length, kCompletionTimeoutMs);  // no reply comes
}

}  // namespace

void gateway_update() {
  const std::int64_t size = begin_update(kTitle);
  const bool kind1 = link::slot0().kind == 1;
  const Gateway gateway{kind1, kind1 ? kLeadInBlockBytes : kBlockBytes};
  // An empty image has no areas to measure progress by, and one of 65,536
  // areas or more overflows their count: neither is announced, so the
  // gateway never starts taking an image that cannot be sent right.
  const std::uint64_t areas =
      size > 0 ? (static_cast<std::uint64_t>(size) + kAreaBytes - 1) / kAreaBytes : 0;
  bool finished = false;
  bool announced = false;
  if (areas != 0 && areas <= kMaxAreas) {
    const link::SlotLock held;
    announced = announce(gateway, static_cast<std::uint32_t>(size));
  }
  if (!announced) {
    write_log_line(progress_log(), "Reprogramming  preparation - Failed\r\n");
  } else {
    finished =
        transfer(gateway, static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(areas));
  }
  end_update();
  if (finished) completion_tail();
}

}  // namespace maltor::update
