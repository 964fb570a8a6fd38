#include "live/live_read.h"

#include "link/device_table.h"
#include "platform/clock.h"

namespace maltor::live {

namespace {

platform::IoRecord g_io;
bool g_event_open = false;
std::uint8_t g_pending = 0;

// The read lands here, not in slot 0's reply area: it may still be in
// progress while the stop exchange (or any other) uses the transfer buffer.
std::uint8_t g_buffer[kRecordSize];

// Ends a read that is still in flight and closes its event. Aborting before
// the event goes away means the read never completes onto a closed event.
void retire(platform::Handle usb) {
  platform::pipe_abort(usb, link::kStreamInPipe);
  std::uint32_t ignored = 0;
  platform::io_result(link::slot0().file, g_io, /*wait=*/true, &ignored);
  finish_read();
}

}  // namespace

std::uint32_t begin_read(platform::Handle usb) {
  std::uint32_t count = 0;
  if (g_pending == 0) {
    // A start of live data clears the flag without ending the read it left;
    // the record cannot be cleared and reused while that read may complete.
    if (g_event_open) retire(usb);
    platform::io_open(g_io, /*manual_reset=*/false);
    g_event_open = true;
    platform::pipe_read_async(usb, link::kStreamInPipe, g_buffer, kRecordSize, g_io, &count);
  }
  g_pending = 0;
  return count;
}

Poll poll_read(platform::Handle file, std::uint32_t count, std::int64_t last_second) {
  // The read a drain aborted: its event is already closed, nothing to poll.
  if (!g_event_open) return Poll::kFailed;
  while (count < kRecordSize) {
    if (platform::now_seconds() > last_second) {
      finish_read();
      return Poll::kFailed;
    }
    const platform::IoStatus status = platform::io_result(file, g_io, /*wait=*/false, &count);
    if (status == platform::IoStatus::kIncomplete) {
      g_pending = 1;
      return Poll::kPending;
    }
    if (status != platform::IoStatus::kDone) {
      finish_read();
      return Poll::kFailed;
    }
  }
  return Poll::kComplete;
}

const std::uint8_t* record() {
  return g_buffer;
}

void finish_read() {
  if (!g_event_open) return;
  platform::io_close(g_io);
  g_event_open = false;
}

void abandon_pending(platform::Handle usb) {
  if (g_pending == 0) return;
  if (g_event_open) retire(usb);
}

void clear_pending_flag() {
  g_pending = 0;
}

std::uint8_t pending_read_flag() {
  return g_pending;
}

bool read_event_open() {
  return g_event_open;
}

void reset_live_read() {
  finish_read();
  g_pending = 0;
}

}  // namespace maltor::live
