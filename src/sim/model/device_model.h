// The virtual device's behaviour, independent of how bytes reach it: the
// virtual USB backend and the emulated-USB tests of the libusb backend both
// feed it the host's transfers and take its answers.
//
// The model sees whole transfers: a write on an OUT pipe is one frame or one
// block of stream data; a read on an IN pipe takes one queued reply (command
// pipe; once none is queued, the next bytes of a log file being sent) or the
// next bytes of the stream (stream pipe). It never allocates
// after construction, so exchanges through it stay allocation-free.
#pragma once

#include <cstdint>

#include "sim/model/device_content.h"
#include "sim/model/reply_queue.h"
#include "sim/model/update_state.h"

namespace maltor::sim {

inline constexpr std::uint8_t kCommandOut = 0x02;
inline constexpr std::uint8_t kCommandIn = 0x82;
inline constexpr std::uint8_t kStreamOut = 0x03;
inline constexpr std::uint8_t kStreamIn = 0x83;

// Fault kinds, the values of MALTOR_SIM_FAULT_*.
enum class FaultKind : std::uint32_t {
  kNone = 0,
  kNoReply = 1,
  kShortReply = 2,
  kWrongSequence = 3,
  kWrongEcho = 4,
  kStatus = 5,
  kWriteFails = 6,
  kStreamStall = 7,
  kUnplugOnRead = 8,
  kBadChecksum = 9,
};

struct Fault {
  FaultKind kind = FaultKind::kNone;
  std::int32_t command = -1;    // -1 matches every frame
  std::uint32_t countdown = 0;  // matching frames still to pass before it fires
  std::uint32_t param = 0;
};

class DeviceModel {
 public:
  explicit DeviceModel(std::uint8_t kind);

  std::uint8_t kind() const { return kind_; }
  DeviceContent& content() { return content_; }
  // Logger and gateway images, update faults and the restart after an update.
  UpdateState& update() { return update_; }

  // Arms a fault; false when the kind is unknown.
  bool arm_fault(FaultKind kind, std::int32_t command, std::uint32_t nth, std::uint32_t param);
  void clear_faults();
  void end_stall_if_hit();

  // One transfer written by the host. False when the device refuses it (the
  // write fails); nothing is answered then.
  bool write(std::uint8_t pipe, const std::uint8_t* data, std::uint32_t length);

  // Whether a read on the IN pipe would deliver something now.
  bool readable(std::uint8_t pipe) const;
  // Delivers at most `capacity` bytes for one read; 0 when nothing is ready.
  std::uint32_t read(std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t capacity);

  // The virtual clock moved: time-paced output (live records) may become ready.
  void advance_time(std::uint64_t now_ms);

  // The device came back on the bus: a restarted device has forgotten the
  // replies it had not sent, its log-file, sector and live output and the
  // packets queued for it. Its card, settings and images stay.
  void restart();

  // True once after a frame armed with the unplug-on-read fault: the
  // transport must make the device vanish while the host awaits its reply.
  bool take_vanish_request();

  // ---- for the command handlers ----

  // Queues a reply on the command IN pipe, applying an armed reply fault.
  // `reply` may be changed by the fault. False when the fault dropped it.
  bool send_reply(std::uint8_t* reply, std::uint32_t length);

  // Replaces the next replies with scripted ones, for fuzzing the host's
  // decoding: `script` holds entries of a 16-bit length (least significant
  // byte first) and that many bytes, cut to what is left and to the reply
  // capacity, so a reply may be empty, short or longer than asked. Replies
  // past the script's end are the device's own. The caller keeps `script`
  // alive while it is in use.
  void script_replies(const std::uint8_t* script, std::uint32_t length) {
    script_ = script;
    script_length_ = length;
    script_at_ = 0;
  }
  // Room for building one reply.
  std::uint8_t* scratch() { return scratch_; }
  // Starts streaming `bytes` bytes of the card from byte `offset` on the stream IN pipe.
  void start_stream(std::uint64_t offset, std::uint64_t bytes);
  void stop_stream();
  // Starts sending `bytes` bytes of the log file of `section` on the command
  // IN pipe, behind the replies queued; the next frame written ends it.
  void start_log_file(std::uint32_t section, std::uint32_t bytes);
  void stop_log_file() { log_remaining_ = 0; }
  // 16-bit sum of the log-file bytes sent since the last start.
  std::uint16_t log_file_sum() const { return log_sum_; }
  // Starts or stops live records on the stream IN pipe (one every live
  // period while running).
  void set_live(bool on);
  std::uint64_t now_ms() const { return now_ms_; }

  // ---- stream pacing and live packets (control API) ----

  // Sector downloads send at most `bytes_per_ms` bytes per virtual ms; 0
  // sends as fast as the host reads.
  void set_stream_rate(std::uint32_t bytes_per_ms);
  // Virtual ms between live records while live data runs; 0 sends none by
  // itself (only queued packets).
  void set_live_period(std::uint32_t milliseconds);
  // Queues one packet of 1 to 512 bytes on the stream IN pipe, sent before
  // anything else whether live data runs or not. False when it does not fit.
  bool queue_live_packet(const std::uint8_t* bytes, std::uint32_t length);

 private:
  Fault* matching_fault(std::int32_t command);

  std::uint8_t kind_;
  DeviceContent content_;
  ReplyQueue replies_;
  Fault faults_[8];
  Fault* firing_ = nullptr;  // the fault that matched the frame being answered
  const std::uint8_t* script_ = nullptr;
  std::uint32_t script_length_ = 0;
  std::uint32_t script_at_ = 0;
  bool vanish_requested_ = false;

  // A log file being sent on the command IN pipe.
  std::uint32_t log_section_ = 0;
  std::uint32_t log_offset_ = 0;
  std::uint32_t log_remaining_ = 0;
  std::uint16_t log_sum_ = 0;

  // Stream IN pipe state: a sector download or live records.
  std::uint64_t stream_remaining_ = 0;
  std::uint64_t stream_offset_ = 0;  // byte offset into the card of the next byte
  std::uint64_t stream_sent_ = 0;
  std::uint64_t stall_after_ = ~std::uint64_t{0};
  bool stall_hit_ = false;           // the stall held back bytes of a stream
  std::uint32_t stream_rate_ = 0;    // bytes per virtual ms; 0 unpaced
  std::uint64_t stream_budget_ = 0;  // bytes the pace allows now
  bool live_running_ = false;
  std::uint64_t live_ready_ = 0;  // records produced but not yet read
  std::uint64_t live_next_ms_ = 0;
  std::uint32_t live_period_ms_ = 10;
  std::uint32_t live_counter_ = 0;
  std::uint64_t now_ms_ = 0;

  // Packets queued through the control API, oldest first.
  struct LivePacket {
    std::uint32_t length;
    std::uint8_t bytes[512];
  };
  static constexpr std::uint32_t kLivePackets = 64;
  LivePacket packets_[kLivePackets];
  std::uint32_t packet_head_ = 0;
  std::uint32_t packet_count_ = 0;

  std::uint8_t scratch_[kReplyCapacity];
  UpdateState update_;
};

}  // namespace maltor::sim
