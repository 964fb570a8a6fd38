#include "update/logger_update.h"

#include <cstring>
#include <string>

#include "link/connection.h"
#include "link/device_table.h"
#include "link/exchange.h"
#include "platform/clock.h"
#include "update/progress_log.h"
#include "update/update_control.h"

namespace maltor::update {

namespace {

using link::buffer0;

constexpr char kTitle[] = "Varden Osprin reprogramming started at ";

// Logger frame codes (byte 1).
constexpr std::uint8_t kStartCode = 0x84;
constexpr std::uint8_t kDataCode = 0x78;
constexpr std::uint8_t kFinishCode = 0x88;
constexpr std::uint8_t kReconnectCode = 0x7C;
constexpr std::uint8_t kReconnectSelector = 0x62;

constexpr std::uint32_t kBlockBytes = 59;  // so that no data frame exceeds 64 bytes
constexpr std::uint32_t kFrameHead = 5;
constexpr std::uint32_t kFrameTimeoutMs = 5000;
constexpr std::uint32_t kReconnectTimeoutMs = 500;
constexpr std::uint32_t kFinishPauseMs = 5000;
constexpr std::uint32_t kEndPauseMs = 2000;

// Writes a four-byte logger frame into the request area.
void put_short_frame(std::uint8_t code, std::uint8_t selector = 0)
    MALTOR_REQUIRES(link::g_exchange_lock) {
  std::uint8_t* frame = buffer0().request;
  frame[0] = 4;
  frame[1] = code;
  frame[2] = 0;
  frame[3] = selector;
}

// An exchange the logger accepted: a reply came and its status byte 3 is 0.
bool accepted(std::uint32_t write_length, std::uint32_t read_length)
    MALTOR_REQUIRES(link::g_exchange_lock) {
  return link::raw_exchange(write_length, read_length, kFrameTimeoutMs, link::Reader::kFixed) !=
             0 &&
         buffer0().reply[3] == 0;
}

bool send_block(const std::uint8_t* data, std::uint32_t n) MALTOR_REQUIRES(link::g_exchange_lock) {
  std::uint8_t* frame = buffer0().request;
  frame[0] = static_cast<std::uint8_t>(n + kFrameHead);
  frame[1] = kDataCode;
  frame[2] = 0;
  frame[3] = 0;
  frame[4] = static_cast<std::uint8_t>(n);
  std::memcpy(frame + kFrameHead, data, n);
  return accepted(n + kFrameHead, 5);
}

// Step blocks: the file's 64-byte units, rounded up, modulo 65,536, over 100.
std::uint16_t step_blocks(std::uint32_t size) {
  const std::uint64_t units = (std::uint64_t{size} + 63) / 64;
  return static_cast<std::uint16_t>((units % 65536) / 100);
}

// The transfer between the start frame and the trailer. Returns the progress
// value it reached.
std::uint8_t transfer(std::uint32_t size) {
  platform::File& firmware = firmware_file();
  platform::File& log = progress_log();
  const std::uint16_t step = step_blocks(size);
  std::uint32_t since_rise = 0;
  std::uint16_t acknowledged_blocks = 0;
  std::uint32_t acknowledged_bytes = 0;
  std::uint8_t progress = 0;

  std::uint8_t block[kBlockBytes];
  std::uint32_t n = static_cast<std::uint32_t>(firmware.read(block, kBlockBytes));
  while (n > 0) {
    if (stop_requested()) break;
    bool sent = false;
    {
      // Block by block, so the connection calls of other threads get in
      // between.
      const link::SlotLock held;
      sent = send_block(block, n);
    }
    if (!sent) {
      write_log_line(log, "Block " + std::to_string(acknowledged_blocks) + " bytes    " +
                              std::to_string(n) + "  CRC - Failed\r\n");
      break;
    }
    if (since_rise >= step) {
      if (progress < 99) ++progress;
      since_rise = 0;
    } else {
      ++since_rise;
    }
    ++acknowledged_blocks;
    acknowledged_bytes += n;
    if (acknowledged_bytes == size) {
      progress = 100;
      report_progress(100);
      break;
    }
    report_progress(progress);
    n = static_cast<std::uint32_t>(firmware.read(block, kBlockBytes));
  }
  write_log_trailer(log, acknowledged_bytes, progress == 100);
  return progress;
}

// Tells the logger the image is complete, waits for it to restart and
// reconnects to it.
void finish_tail() {
  {
    const link::SlotLock held;
    put_short_frame(kFinishCode);
    link::raw_exchange(4, 7, kFrameTimeoutMs, link::Reader::kFixed);
  }
  platform::sleep_ms(kFinishPauseMs);
  // Closed, found again and greeted in one hold, so no other thread sees the
  // logger between its restart and the reconnect frame.
  const link::SlotLock held;
  link::close_device();  // does nothing if an update is marked running again
  link::ReopenDevice();
  put_short_frame(kReconnectCode, kReconnectSelector);
  link::send_only(4, kReconnectTimeoutMs);  // no reply comes
}

}  // namespace

void logger_update() {
  const std::int64_t size = begin_update(kTitle);
  std::uint8_t progress = 0;
  // An image whose length cannot be measured in 32 bits would be cut short,
  // so it is not sent at all.
  bool started = false;
  if (size >= 0) {
    const link::SlotLock held;
    put_short_frame(kStartCode);
    started = accepted(4, 7);
  }
  if (!started) {
    write_log_line(progress_log(), "Reprogramming  start - Failed\r\n");
  } else {
    progress = transfer(static_cast<std::uint32_t>(size));
  }
  end_update();
  if (progress == 100) finish_tail();
  platform::sleep_ms(kEndPauseMs);
  link::close_device();
}

}  // namespace maltor::update
