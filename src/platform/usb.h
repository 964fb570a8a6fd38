// USB side of the platform layer: discovery, device handles and pipe transfers.
//
// The core talks to exactly one implementation of these calls per binary:
// win32 (WinUSB + SetupAPI), libusb (Linux/macOS) or sim (the virtual device).
// The shapes follow what the core needs: overlapped transfers that are waited on
// with a bounded wait or polled without waiting, synchronous transfers, and pipe
// aborts that release a blocked read. No call here allocates memory during a
// transfer; every per-transfer record lives in caller-provided storage.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace maltor::platform {

// Raw 64-bit handle values as the device table stores them. All bits set is
// the invalid value for both the file handle and the USB interface handle.
using Handle = std::uint64_t;
inline constexpr Handle kInvalidHandle = ~Handle{0};

// Outcome of starting or collecting a transfer. The names follow the system
// errors the core distinguishes; every other error is kFailed.
enum class IoStatus : std::uint8_t {
  kDone,        // completed; the count is valid
  kPending,     // started and still running (ERROR_IO_PENDING)
  kIncomplete,  // polled without waiting and still running (ERROR_IO_INCOMPLETE)
  kNoAccess,    // the buffer could not be accessed (ERROR_NOACCESS)
  kGone,        // the device has vanished (ERROR_FILE_NOT_FOUND)
  kFailed,      // any other failure
};

// What the USB trace keeps about an overlapped transfer between its start and
// its completion; zero `irp` means the transfer is not traced.
struct IoTraceTag {
  std::uint64_t irp;
  std::uint64_t usb;           // the interface handle it runs on
  const std::uint8_t* buffer;  // where a read's data land
  std::uint32_t length;
  std::uint32_t aborts;  // the pipe's abort count when the transfer started
  std::uint8_t pipe;
  bool timed_out;  // a wait for it ran out
};

// Storage for one overlapped transfer and its completion event. Each backend
// keeps its own state inside `opaque`; the core only owns the memory, so
// starting a transfer never allocates.
struct alignas(16) IoRecord {
  unsigned char opaque[128];
  IoTraceTag trace;
};

// ---- Discovery -----------------------------------------------------------

// One present USB device as discovery reports it, in bus enumeration order.
// `instance_id` is the system's device-instance id ("USB\VID_xxxx&PID_xxxx\...");
// `path` is the device interface path, empty when the device exposes none.
// `serial` is the serial number as the device reports it and `location` where
// it is plugged (bus and ports, "1-1.4", or the system's location text); each
// is empty when unknown. Reading them never claims the device.
struct DeviceEntry {
  char instance_id[256];
  char path[512];
  char serial[64];
  char location[32];
};

// Calls `visit` once per present USB device, in enumeration order. Returns
// when every device was visited or `visit` returns false.
using DeviceVisitor = bool (*)(void* context, const DeviceEntry& entry);
void enumerate_devices(DeviceVisitor visit, void* context);

// Defined by the core: the vendor id of the maker's devices. A backend that
// must open a device to read its serial number opens only these, so
// discovery causes no traffic to other vendors' devices.
std::uint16_t serial_vendor_id();

// True when another program holds the device, as far as the system can tell
// without opening it for transfers; false when it is free or nobody can tell.
bool held_elsewhere(const DeviceEntry& entry);

// ---- Open and close ------------------------------------------------------

// Opens the device path for overlapped I/O; kInvalidHandle on failure.
Handle open_device_file(const char* path);
// Initialises the USB interface on an open file handle; kInvalidHandle on failure.
Handle usb_initialize(Handle file);
// Releases a USB interface handle from usb_initialize.
void usb_free(Handle usb);
// Closes a file handle from open_device_file. Ignores kInvalidHandle.
void close_device_file(Handle file);

// Device speed as WinUSB reports it (information type 1): 3 is high speed.
bool query_device_speed(Handle usb, std::uint8_t* speed);
// Number of endpoints of interface 0 at the given alternate setting.
bool query_endpoint_count(Handle usb, std::uint8_t alternate_setting, std::uint8_t* count);

// ---- Overlapped transfers ------------------------------------------------

// Prepares `io` for a new transfer: clears it and creates its completion
// event (manual or automatic reset, initially not signalled).
void io_open(IoRecord& io, bool manual_reset);
// Closes the event that io_open created. Must be called once per io_open.
void io_close(IoRecord& io);

// Starts an overlapped write or read. kDone means it completed at once with
// `*count` bytes; kPending means it runs on and completes through `io`. Other
// values are immediate failures, with `*count` as the system reported it.
inline IoStatus pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                                 std::uint32_t length, IoRecord& io, std::uint32_t* count);
inline IoStatus pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                                std::uint32_t length, IoRecord& io, std::uint32_t* count);

// Waits at most `timeout_ms` for the transfer's event. True when it came.
inline bool io_wait(IoRecord& io, std::uint32_t timeout_ms);

// Collects the transfer's result. With `wait` it blocks until the transfer has
// completed (after an abort this is prompt); without it a running transfer
// reports kIncomplete. kDone sets `*count`.
inline IoStatus io_result(Handle file, IoRecord& io, bool wait, std::uint32_t* count);

// Aborts every transfer outstanding on a pipe; blocked reads return at once.
inline bool pipe_abort(Handle usb, std::uint8_t pipe);
// Cancels the calling thread's pending I/O on the file handle.
void cancel_io(Handle file);

// ---- Synchronous transfers -----------------------------------------------

// Bounds every later synchronous read or write on a pipe (WinUSB's
// PIPE_TRANSFER_TIMEOUT policy); 0 waits without limit.
bool set_pipe_timeout(Handle usb, std::uint8_t pipe, std::uint32_t timeout_ms);

// Blocking transfers without an overlapped record. Return the success value
// of the call; `*count` receives the bytes moved, also when the call failed
// part-way (a read that timed out after some packets came keeps them).
inline bool pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                           std::uint32_t length, std::uint32_t* count);
inline bool pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                            std::uint32_t length, std::uint32_t* count);

// ---- Backend entry points -------------------------------------------------

// Each backend implements the calls that move data or name a device under
// these names; the calls of the same names above wrap them (below, and the
// link's trace side in link/usb_seam.cpp), so the USB trace sees every
// transfer of every backend in one place.
namespace backend {
void enumerate_devices(DeviceVisitor visit, void* context);
Handle open_device_file(const char* path);
Handle usb_initialize(Handle file);
IoStatus pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                          std::uint32_t length, IoRecord& io, std::uint32_t* count);
IoStatus pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t length,
                         IoRecord& io, std::uint32_t* count);
bool io_wait(IoRecord& io, std::uint32_t timeout_ms);
IoStatus io_result(Handle file, IoRecord& io, bool wait, std::uint32_t* count);
bool pipe_abort(Handle usb, std::uint8_t pipe);
bool pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t length,
                    std::uint32_t* count);
bool pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data, std::uint32_t length,
                     std::uint32_t* count);
}  // namespace backend

// ---- The trace's side of the seam ------------------------------------------

// True while a USB trace runs (link/usb_trace.h starts and stops it). With
// none running, a wrapper below adds one relaxed load to the backend call.
extern std::atomic<bool> g_tracing;
inline bool tracing() {
  return g_tracing.load(std::memory_order_relaxed);
}

namespace traced {
IoStatus pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                          std::uint32_t length, IoRecord& io, std::uint32_t* count);
IoStatus pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t length,
                         IoRecord& io, std::uint32_t* count);
void completed(IoRecord& io, IoStatus status, std::uint32_t count);
void pipe_aborted(std::uint8_t pipe);
bool pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer, std::uint32_t length,
                    std::uint32_t* count);
bool pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data, std::uint32_t length,
                     std::uint32_t* count);
}  // namespace traced

inline IoStatus pipe_write_async(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                                 std::uint32_t length, IoRecord& io, std::uint32_t* count) {
  if (tracing()) return traced::pipe_write_async(usb, pipe, data, length, io, count);
  io.trace.irp = 0;
  return backend::pipe_write_async(usb, pipe, data, length, io, count);
}

inline IoStatus pipe_read_async(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                                std::uint32_t length, IoRecord& io, std::uint32_t* count) {
  if (tracing()) return traced::pipe_read_async(usb, pipe, buffer, length, io, count);
  io.trace.irp = 0;
  return backend::pipe_read_async(usb, pipe, buffer, length, io, count);
}

inline bool io_wait(IoRecord& io, std::uint32_t timeout_ms) {
  const bool came = backend::io_wait(io, timeout_ms);
  if (!came && io.trace.irp != 0 && timeout_ms != 0) io.trace.timed_out = true;
  return came;
}

inline IoStatus io_result(Handle file, IoRecord& io, bool wait, std::uint32_t* count) {
  const IoStatus status = backend::io_result(file, io, wait, count);
  if (io.trace.irp != 0 && status != IoStatus::kIncomplete && status != IoStatus::kPending) {
    traced::completed(io, status, status == IoStatus::kDone ? *count : 0);
  }
  return status;
}

inline bool pipe_abort(Handle usb, std::uint8_t pipe) {
  if (tracing()) traced::pipe_aborted(pipe);
  return backend::pipe_abort(usb, pipe);
}

inline bool pipe_read_sync(Handle usb, std::uint8_t pipe, std::uint8_t* buffer,
                           std::uint32_t length, std::uint32_t* count) {
  if (tracing()) return traced::pipe_read_sync(usb, pipe, buffer, length, count);
  return backend::pipe_read_sync(usb, pipe, buffer, length, count);
}

inline bool pipe_write_sync(Handle usb, std::uint8_t pipe, const std::uint8_t* data,
                            std::uint32_t length, std::uint32_t* count) {
  if (tracing()) return traced::pipe_write_sync(usb, pipe, data, length, count);
  return backend::pipe_write_sync(usb, pipe, data, length, count);
}

}  // namespace maltor::platform
