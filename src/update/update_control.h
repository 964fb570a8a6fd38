// What the two threaded firmware updates share: the status callback, the
// update marker, the request and stop events, the open firmware file and
// progress log, the path copy, the start checks, the stop check, the update
// release and the one update thread.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"
#include "platform/os.h"

namespace maltor::update {

// The function an update thread runs between the shared beginning and end.
using UpdateBody = void (*)();

// ---- Operations of the exports ------------------------------------------

void set_status_callback(MaltorStatusCallback callback);
// The start checks in their order (5, 2, 1, 3), then the update thread.
std::uint8_t start_update(const char* firmware_path, const char* log_path, UpdateBody body);
// 5 without a callback; otherwise the update release and 0.
std::uint8_t stop_update();

// MaltorWaitForUpdate: kOk once no update is alive (at once when none is),
// kUpdateRunning when one still is after `timeout_ms` on the library's clock
// (0: no wait; on the update thread itself: at once).
std::uint8_t wait_for_update(std::uint32_t timeout_ms);

// Waits until the update thread, stopped or not, has ended (its tail
// included), however long it takes. Does nothing on the update thread itself.
void wait_for_update_thread();

// ---- For the update threads ---------------------------------------------

// The shared beginning: opens this update's request and stop events (unless a
// stop already released the update), measures the firmware file and writes
// the progress log header with `title`. Returns the file size, or -1 when the
// file's length cannot be measured or does not fit 32 bits.
std::int64_t begin_update(const char* title);

// The firmware file and progress log opened by the start.
platform::File& firmware_file();
platform::File& progress_log();

// The check before every block: true when the transfer loop must end.
bool stop_requested();

// Calls the status callback with `progress`, unless none is stored now.
void report_progress(std::uint8_t progress);

// The shared end: update release, then the progress log and the firmware
// file are closed.
void end_update();

}  // namespace maltor::update
