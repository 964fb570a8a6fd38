// The live read: one overlapped read of a 512-byte record on the stream IN
// pipe, which may stay in progress from one call to the next. Its record,
// buffer and pending-read flag are library-wide and unguarded; the live-data
// operations must not run at the same time.
//
// Conditions of the read (flag, event):
//   no read              0, closed
//   in progress in call  0, open
//   pending between calls 1, open
//   aborted, left over   1, closed  (after a drain; the next take-over fails)
#pragma once

#include <cstdint>

#include "platform/usb.h"

namespace maltor::live {

inline constexpr std::uint32_t kRecordSize = 512;

enum class Poll : std::uint8_t {
  kComplete,  // 512 bytes are in; record() holds them, the event is still open
  kPending,   // still running: left pending for the next call (flag set)
  kFailed,    // failed or out of time; its event is closed
};

// Takes over the read pending from an earlier call, or starts a new one into
// the live buffer. Clears the pending-read flag. Returns the byte count the
// start reported (0 unless the read completed at once; 0 on a take-over).
std::uint32_t begin_read(platform::Handle usb);

// Polls the read without waiting until it holds 512 bytes. A read that
// completed short is polled until the clock passes `last_second`.
Poll poll_read(platform::Handle file, std::uint32_t count, std::int64_t last_second);

// The bytes of a completed read.
const std::uint8_t* record();

// Closes the read's event; a closed event is never closed again.
void finish_read();

// If a read is pending between calls: aborts the stream IN pipe, collects it
// and closes its event. The flag stays set, so the next take-over fails.
void abandon_pending(platform::Handle usb);

// A successful start of live data: the next call starts a new read.
void clear_pending_flag();

std::uint8_t pending_read_flag();
bool read_event_open();
// Back to the state at library load (for tests, after the bus was reset).
void reset_live_read();

}  // namespace maltor::live
