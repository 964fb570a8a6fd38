// Shared state of the libusb backend: the libusb context, the static table of
// open devices with their pre-allocated transfers, the handle encoding and the
// event pump that every wait goes through.
//
// Events are handled inside the waits (see README.md, "libusb event
// handling"): a thread that waits for a transfer runs libusb's event handling
// itself until the transfer's completion flag is set or its deadline passes.
// libusb lets one thread handle events while the others wait for it, so an
// abort from a second thread and a blocked read on the first work together.
//
// Locking: one mutex (`g_table_lock`) guards the table. It is never held while
// libusb handles events or while a call that may take libusb's event lock
// runs (open, close, claim, release), because transfer callbacks take it from
// inside event handling.
#pragma once

#include <libusb.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/mutex.h"
#include "platform/os.h"
#include "platform/usb.h"

namespace maltor::platform::libusb_backend {

using Clock = std::chrono::steady_clock;

// The one libusb context of the library, created on first use; null when
// libusb cannot start (no USB stack).
libusb_context* context();

// Runs one round of libusb's event handling: returns once something was
// handled, `completed` was found set, or `deadline` passed. Callers loop.
void pump_until(int& completed, Clock::time_point deadline);
// Reaps whatever has completed, without blocking.
void pump_now(int& completed);

inline constexpr int kMaxOpenDevices = 16;  // ten slots plus devices orphaned by a table reset
inline constexpr int kMaxPipes = 8;
// A read left pending between calls, the one started after it, and room to spare.
inline constexpr int kTransfersPerPipe = 4;
inline constexpr std::size_t kPathSize = 64;

// Guards the table of open devices: every field below except a slot's
// `completed` flag.
extern Mutex g_table_lock;

struct OpenDevice;

// One pre-allocated libusb transfer and the completion state of its use.
struct TransferSlot {
  libusb_transfer* transfer MALTOR_GUARDED_BY(g_table_lock);
  OpenDevice* device MALTOR_GUARDED_BY(g_table_lock);
  // issuing thread, for cancel_io
  std::uint64_t thread MALTOR_GUARDED_BY(g_table_lock);
  // a fresh value for every use, so stale records find nothing
  std::uint32_t generation MALTOR_GUARDED_BY(g_table_lock);
  std::uint32_t count MALTOR_GUARDED_BY(g_table_lock);
  // Set by the callback under the lock, but read atomically without it while
  // libusb handles events, so not guarded.
  int completed;
  IoStatus status MALTOR_GUARDED_BY(g_table_lock);
  // owned by an IoRecord or a synchronous call
  bool in_use MALTOR_GUARDED_BY(g_table_lock);
  // submitted and its callback has not run yet
  bool in_flight MALTOR_GUARDED_BY(g_table_lock);
  // its record was closed while in flight: freed by the callback
  bool orphaned MALTOR_GUARDED_BY(g_table_lock);
  bool signalled MALTOR_GUARDED_BY(g_table_lock);  // the completion event
  bool manual_reset MALTOR_GUARDED_BY(g_table_lock);
};

struct Pipe {
  std::uint8_t endpoint MALTOR_GUARDED_BY(g_table_lock);
  // LIBUSB_TRANSFER_TYPE_BULK or _INTERRUPT
  std::uint8_t type MALTOR_GUARDED_BY(g_table_lock);
  std::uint32_t timeout_ms MALTOR_GUARDED_BY(g_table_lock);
  TransferSlot slots[kTransfersPerPipe] MALTOR_GUARDED_BY(g_table_lock);
};

struct OpenDevice {
  libusb_device_handle* handle MALTOR_GUARDED_BY(g_table_lock);
  // bumped at every open and close; stale handles find nothing
  std::uint32_t generation MALTOR_GUARDED_BY(g_table_lock);
  bool used MALTOR_GUARDED_BY(g_table_lock);
  bool claimed MALTOR_GUARDED_BY(g_table_lock);
  // the device vanished: every later transfer reports kGone
  bool gone MALTOR_GUARDED_BY(g_table_lock);
  std::uint8_t pipe_count MALTOR_GUARDED_BY(g_table_lock);
  char path[kPathSize] MALTOR_GUARDED_BY(g_table_lock);
  Pipe pipes[kMaxPipes] MALTOR_GUARDED_BY(g_table_lock);
};

OpenDevice* devices();  // kMaxOpenDevices entries

// Handles: generation in the high half, table index and kind in the low bits.
// Never all bits set and never 0.
enum class HandleKind : std::uint64_t { kFile = 1, kUsb = 2 };
Handle make_handle(int index, std::uint32_t generation, HandleKind kind);
// The open device a handle names, or null (lock held). A USB handle needs the
// interface claimed.
OpenDevice* resolve(Handle handle, HandleKind kind) MALTOR_REQUIRES(g_table_lock);

// The stable path of a device, built from its bus and port numbers
// ("usb:1-1.4"); false when it does not fit.
bool device_path(libusb_device* device, char* out, std::size_t capacity);
// The present device with that path, referenced (the caller unrefs it), or null.
libusb_device* find_device(const char* path);

// The pipe of an open device, or null (lock held).
Pipe* find_pipe(OpenDevice& device, std::uint8_t endpoint) MALTOR_REQUIRES(g_table_lock);

// Which in-flight transfers cancel_and_wait ends: those on `endpoint` (any
// when -1) issued by `thread` (any when 0).
struct CancelFilter {
  int endpoint = -1;
  std::uint64_t thread = 0;
};
// Cancels the matching transfers of a device and waits, bounded, for their
// callbacks. Called without the lock.
void cancel_and_wait(OpenDevice& device, CancelFilter filter) MALTOR_EXCLUDES(g_table_lock);

// Marks a slot's completion; the libusb callback of every transfer.
void LIBUSB_CALL on_transfer_done(libusb_transfer* transfer);

}  // namespace maltor::platform::libusb_backend
