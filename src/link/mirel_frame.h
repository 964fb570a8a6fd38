// The Mirel frame: the request layout of the log-section devices. It shares
// the command pipes and the writer and readers with the standard frame, but
// carries no sequence byte, keeps its length at bytes 4–5, its command as a
// 16-bit number at bytes 6–7, and leaves the length out of its checksum.
//
//   MirelExchange exchange(kMirelDescriptor, 4);
//   if (!exchange.ready()) return exchange.refusal();
//   put_u32(exchange.payload(), index);
//   if (const auto result = exchange.run(38, kMirelQueryTimeoutMs); result != kOk) return result;
//   ... decode exchange.reply() from byte kMirelDataOffset ...
#pragma once

#include <cstdint>

#include "link/exchange_lock.h"

namespace maltor::link {

// Mirel command numbers.
inline constexpr std::uint16_t kMirelLogCount = 1;
inline constexpr std::uint16_t kMirelFirstLogSection = 2;
inline constexpr std::uint16_t kMirelActiveLogSection = 3;
inline constexpr std::uint16_t kMirelDescriptor = 4;
inline constexpr std::uint16_t kMirelLogFileCheck = 5;
inline constexpr std::uint16_t kMirelLogFileRequest = 15;
inline constexpr std::uint16_t kMirelFirmwareVersion = 220;

inline constexpr std::uint32_t kMirelPayloadOffset = 8;  // request byte of the first payload byte
inline constexpr std::uint32_t kMirelStatusOffset = 4;   // reply byte of the status, 0 success
inline constexpr std::uint32_t kMirelDataOffset = 5;     // reply byte of the first data byte
// Write timeout of the log-section queries; their replies get the fixed wait.
inline constexpr std::uint32_t kMirelQueryTimeoutMs = 2000;

// Where the payload goes in slot 0's request area.
std::uint8_t* mirel_payload() MALTOR_REQUIRES(g_exchange_lock);

// Completes a Mirel frame around the `payload_length` bytes already at
// mirel_payload(): zero bytes 0–5, the command, the checksum over bytes 0 to
// length − 2 taken while the length bytes are still zero, and only then the
// length. Returns the frame length. Touches neither the control header nor
// the sequence counter.
std::uint32_t build_mirel_frame(std::uint16_t command, std::uint32_t payload_length)
    MALTOR_REQUIRES(g_exchange_lock);

// One Mirel request and reply on slot 0: the exchange lock for its life,
// open-device test, frame, write, fixed-wait read, status byte.
class MirelExchange {
 public:
  // Takes the turn and performs the open-device test; when either fails
  // nothing is touched.
  explicit MirelExchange(std::uint16_t command, std::uint32_t payload_length = 0);

  bool ready() const { return refusal_ == 0; }
  // kUpdateRunning or kNoDevice when not ready().
  std::uint8_t refusal() const { return refusal_; }
  // Where the payload goes. Valid only when ready().
  std::uint8_t* payload() {
    g_exchange_lock.assert_held();
    return mirel_payload();
  }

  // Builds the frame, writes it with `timeout_ms` as the header's timeout and
  // reads up to `read_length` bytes with the fixed-wait reader. Returns kOk,
  // refusal(), kExchangeFailed (nothing written or read), or the reply's
  // status byte when it is not 0.
  std::uint8_t run(std::uint32_t read_length, std::uint32_t timeout_ms);

  const std::uint8_t* reply() const;
  std::uint32_t reply_count() const { return reply_count_; }

 private:
  const ExchangeTurn turn_;
  std::uint16_t command_;
  std::uint32_t payload_length_;
  std::uint32_t reply_count_ = 0;
  std::uint8_t refusal_;
};

}  // namespace maltor::link
