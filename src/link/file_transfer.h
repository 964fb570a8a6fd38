// The file-transfer exchange: a start frame that announces a file, data
// frames that carry it piece by piece and an end frame with its 16-bit sum.
// Each frame is a standard command frame built in slot 0's request area,
// written on the command OUT pipe and answered with 8 bytes on the command IN
// pipe, both with synchronous transfers of its own rather than the writer and
// readers. The data-processor reflash and the configuration send run it.
#pragma once

#include <cstdint>

#include "link/command_table.h"
#include "link/exchange_lock.h"

namespace maltor::link {

// The image buffer: the largest file the exchange sends.
inline constexpr std::uint32_t kImageCapacity = 524288;
// Most data bytes of one data frame on a high-speed and on a full-speed link.
inline constexpr std::uint32_t kHighSpeedChunk = 490;
inline constexpr std::uint32_t kFullSpeedChunk = 42;
// Bound on every synchronous write and read of the exchange.
inline constexpr std::uint32_t kTransferTimeoutMs = 10000;

// The chunk limit of the link slot 0's device was found on.
std::uint32_t chunk_limit();

// Data bytes of the next data frame when `remaining` bytes are left: the
// limit while more than limit + 1 remain, else all of them, so the last
// frame may carry limit + 1.
constexpr std::uint32_t chunk_length(std::uint32_t remaining, std::uint32_t limit) {
  return remaining > limit + 1 ? limit : remaining;
}

// Sum of `length` bytes modulo 65,536.
std::uint16_t image_sum(const std::uint8_t* bytes, std::uint32_t length);

// Zero-fills the image buffer and reads the file at `path` into its start.
// False, with nothing read past the buffer, when the file cannot be opened,
// is empty, is longer than kImageCapacity or cannot be read whole. On
// success *length is the file's length.
// The buffer is shared: the caller holds the exchange lock from the load to
// the end of the transfer.
bool load_image(const char* path, std::uint32_t* length) MALTOR_REQUIRES(g_exchange_lock);
// The image buffer (kImageCapacity bytes).
const std::uint8_t* image() MALTOR_REQUIRES(g_exchange_lock);

// The three rows of one kind of transfer.
struct TransferCommands {
  CommandId start;
  CommandId data;
  CommandId end;
};
inline constexpr TransferCommands kReflashCommands{CommandId::kReflashStart,
                                                   CommandId::kReflashData, CommandId::kReflashEnd};
inline constexpr TransferCommands kReconfigureCommands{
    CommandId::kReconfigureStart, CommandId::kReconfigureData, CommandId::kReconfigureEnd};

// The rows of both transfers say so in their reader: their frames go through
// the synchronous pipe calls below, never through Exchange.
constexpr bool direct_rows(const TransferCommands& commands) {
  return command(commands.start).reader == Reader::kDirect &&
         command(commands.data).reader == Reader::kDirect &&
         command(commands.end).reader == Reader::kDirect;
}
static_assert(direct_rows(kReflashCommands) && direct_rows(kReconfigureCommands));

struct TransferOutcome {
  bool done;         // every frame written and every reply read
  bool end_written;  // the end frame went out (its reply may still have failed)
};

// Runs the exchange over the first `length` bytes (1 or more) of the image
// buffer: the start frame with `start_payload` (as many bytes as its row's
// payload holds), the data frames of at most `limit` bytes (limit + 1 for
// the last) and the end frame with the sum of those bytes. Every frame takes
// its sequence byte from `sequence`, which moves on by one per frame. The
// first failed write or read ends it; nothing is sent to abort the device's
// transfer. The last reply is left in slot 0's reply area.
TransferOutcome run_file_transfer(const TransferCommands& commands,
                                  const std::uint8_t* start_payload, std::uint32_t length,
                                  std::uint32_t limit, std::uint8_t& sequence)
    MALTOR_REQUIRES(g_exchange_lock);

}  // namespace maltor::link
