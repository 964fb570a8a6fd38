// The standard command exchange: open-device test, control header, frame,
// write, read, reply check. Every standard-frame operation runs through it;
// the operation only fills the payload and decodes the reply.
//
//   link::Exchange exchange(CommandId::kSetDateTime);
//   if (!exchange.ready()) return exchange.refusal();
//   put_u32(exchange.payload(), clock_value);
//   if (const auto result = exchange.run(); result != kOk) return result;
//   ... decode exchange.reply() ...
#pragma once

#include <cstdint>

#include "link/byte_order.h"  // put_u16/put_u32/get_u16/get_u32 for every frame
#include "link/command_table.h"
#include "link/device_table.h"
#include "link/exchange_lock.h"

namespace maltor::link {

// The library-wide sequence counter: 0 at load, wraps from 255 to 0.
extern std::uint8_t g_sequence MALTOR_GUARDED_BY(g_exchange_lock);

// Sum modulo 256 of `length` bytes: the standard frame's checksum.
std::uint8_t additive_sum(const std::uint8_t* bytes, std::uint32_t length);

// Offset of the payload in a standard frame and of the data in a reply.
inline constexpr std::uint32_t kPayloadOffset = 5;
inline constexpr std::uint32_t kReplyDataOffset = 5;

// Writes the standard frame header of `row` into slot 0's request
// area: sequence byte, frame length (the row's plus `extra`), command code
// and a zero byte. Returns the frame length.
std::uint32_t stamp_frame(const CommandRow& row, std::uint32_t extra, std::uint8_t sequence)
    MALTOR_REQUIRES(g_exchange_lock);
// Adds the checksum to the frame of `length` bytes in slot 0's request area,
// once its payload is in place.
void seal_frame(std::uint32_t length) MALTOR_REQUIRES(g_exchange_lock);

// One standard exchange. It holds the exchange lock (an ExchangeTurn) from
// its construction to its end, so the payload, the frame and the reply are
// this exchange's alone while it lives.
class Exchange {
 public:
  // Takes the turn and performs the open-device test. When both pass, sets
  // the control header and stamps the frame's header with the next sequence
  // number; the frame is the row's length plus `extra_write`, the reply asked
  // for the row's length plus `extra_read`.
  explicit Exchange(CommandId id, std::uint32_t extra_write = 0, std::uint32_t extra_read = 0);

  // False when an update is alive or slot 0 holds no open device: nothing
  // was touched, the operation returns refusal().
  bool ready() const { return refusal_ == 0; }
  // kUpdateRunning or kNoDevice when not ready().
  std::uint8_t refusal() const { return refusal_; }
  // Where the payload goes (frame byte 5 on). Valid only when ready().
  std::uint8_t* payload() {
    g_exchange_lock.assert_held();
    return buffer0().request + kPayloadOffset;
  }
  std::uint8_t sequence() const { return sequence_; }

  // Adds the checksum, writes, reads and checks the reply. Returns kOk,
  // kExchangeFailed or kNoDevice.
  std::uint8_t run();
  // Writes the frame that run() sealed once more, unchanged (same sequence
  // number), and reads and checks a fresh reply. For operations that poll.
  std::uint8_t rerun();

  const std::uint8_t* reply() const {
    g_exchange_lock.assert_held();
    return buffer0().reply;
  }
  std::uint32_t reply_count() const { return reply_count_; }

 private:
  const ExchangeTurn turn_;  // first, so it is taken before anything else is touched
  const CommandRow& row_;
  std::uint32_t length_ = 0;
  std::uint32_t reply_count_ = 0;
  std::uint8_t sequence_ = 0;
  std::uint8_t refusal_ = 0;
};

// Writes `write_length` bytes of the request area (already filled by the
// caller), the write bounded by `timeout_ms`, and reads the reply with the
// chosen reader. Used by frames of other layouts (Mirel, logger, gateway)
// that share the command pipes. Returns the count read, 0 when the write or
// the read moved nothing.
std::uint32_t raw_exchange(std::uint32_t write_length, std::uint32_t read_length,
                           std::uint32_t timeout_ms, Reader reader)
    MALTOR_REQUIRES(g_exchange_lock);

// Writes `write_length` bytes of the request area and reads nothing: for the
// frames a device does not answer because it restarts or reconnects on them.
// Returns the bytes written, 0 when the write moved nothing.
std::uint32_t send_only(std::uint32_t write_length, std::uint32_t timeout_ms)
    MALTOR_REQUIRES(g_exchange_lock);

// Reads up to `read_length` bytes into the reply area with the chosen reader,
// writing nothing first: for data a device sends on after an exchange's
// reply. `timeout_ms` is the timed reader's wait; the fixed one waits
// kFixedReadWaitMs whatever it says. Returns the count read, 0 when nothing
// came.
std::uint32_t read_only(std::uint32_t read_length, std::uint32_t timeout_ms, Reader reader)
    MALTOR_REQUIRES(g_exchange_lock);

}  // namespace maltor::link
