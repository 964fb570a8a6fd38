// The virtual USB bus: plugged virtual devices in enumeration order, their
// handles and outstanding transfers, the virtual clock, the wire trace and
// the captured debug texts. One lock guards all of it; one condition variable
// wakes every wait when a transfer completes or the clock moves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "sim/model/device_model.h"

namespace maltor::sim {

// A handle names a device and its plug generation; all bits set names none.
using Handle = std::uint64_t;
inline constexpr Handle kNoHandle = ~Handle{0};

// Where a transfer stands: completed with or without its bytes, or running.
enum class IoState : std::uint8_t { kDone, kPending, kFailed };

struct VirtualDevice;

// The state of one overlapped transfer. The backend keeps it inside the
// host's own per-transfer record, so starting a transfer never allocates.
struct SimIo {
  VirtualDevice* device;
  std::uint8_t* buffer;
  SimIo* next;           // in the device's list of outstanding reads
  std::uint64_t thread;  // issuing thread, for cancel_io
  std::uint32_t length;
  std::uint32_t count;
  IoState status;
  std::uint8_t pipe;
  bool outstanding;
  bool signalled;
  bool manual_reset;
};
struct VirtualDevice {
  VirtualDevice(std::int32_t id, std::uint8_t kind, std::uint8_t speed);

  // Sets the serial number and location the device reports (null keeps one);
  // the instance id ends in the serial, or in a generated name without one.
  // False when either is too long.
  bool set_identity(const char* new_serial, const char* new_location);

  std::int32_t id;
  std::uint8_t kind;
  std::uint8_t speed;
  std::uint8_t endpoint_count = 4;
  bool has_interface = true;
  bool open_fails = false;
  bool held_elsewhere = false;  // another program holds it: opening fails
  bool plugged = true;
  std::uint32_t generation = 1;           // bumped on unplug, so old handles go stale
  std::uint32_t read_timeout_ms[2] = {};  // pipe 0x82, pipe 0x83; 0 waits without limit
  char instance_id[128];
  char path[160];
  char serial[64];
  char location[32];
  SimIo* reads = nullptr;  // outstanding reads, oldest first
  DeviceModel model;
};

inline constexpr int kMaxDevices = 16;

class VirtualBus {
 public:
  static VirtualBus& get();

  std::mutex lock;
  std::condition_variable changed;

  // ---- devices (lock held) ----
  VirtualDevice* plug(std::uint8_t kind, std::uint8_t speed, std::int32_t position);
  bool unplug(VirtualDevice& device);
  bool replug(VirtualDevice& device);
  void reset();
  VirtualDevice* by_id(std::int32_t id);
  int plugged_count() const { return order_count_; }
  VirtualDevice* plugged_at(int index) { return order_[index]; }

  // Handles name a device and its generation; a stale handle finds nothing.
  Handle file_handle(const VirtualDevice& device) const;
  Handle usb_handle(const VirtualDevice& device) const;
  VirtualDevice* by_handle(Handle handle);

  // ---- transfers (lock held) ----
  // Completes outstanding reads from what the device has ready.
  void pump(VirtualDevice& device);
  void complete(SimIo& io, IoState status, std::uint32_t count);
  void unlink(SimIo& io);

  // ---- virtual clock (lock held) ----
  std::uint64_t now_ms() const { return now_ms_; }
  // Reading the clock in automatic mode moves it on by 1 ms, so that busy
  // loops measured on it come to an end.
  std::uint64_t read_clock();
  void advance(std::uint64_t milliseconds);
  // Waits until `done()` holds or the clock reaches `deadline`. In automatic
  // mode a wait that is not already done jumps the clock to its deadline; in
  // manual mode it blocks, and a switch back to automatic mode releases it.
  template <typename Done>
  bool wait_until(std::unique_lock<std::mutex>& held, std::uint64_t deadline, Done done) {
    while (!done() && now_ms_ < deadline) {
      if (!manual_clock_) {
        advance(deadline - now_ms_);
        break;
      }
      ++clock_waiters_;
      changed.wait(held);
      --clock_waiters_;
    }
    return done();
  }
  // Threads blocked in a manual-mode wait.
  std::uint32_t clock_waiters() const { return clock_waiters_; }
  bool manual_clock_ = false;
  static constexpr std::int64_t kDefaultOriginSeconds = 1'780'000'000;
  std::int64_t origin_seconds = kDefaultOriginSeconds;  // wall-clock second of virtual 0
  std::uint32_t origin_tick = 0;

  // ---- trace and debug texts (lock held) ----
  void trace(const VirtualDevice& device, std::uint8_t pipe, const std::uint8_t* data,
             std::uint32_t length);
  std::uint32_t trace_count() const { return trace_count_; }
  std::int32_t trace_get(std::uint32_t index, std::int32_t* device, std::uint8_t* pipe,
                         std::uint32_t* length, std::uint8_t* data, std::uint32_t capacity) const;
  void trace_clear() { trace_first_ = trace_count_ = 0; }

  void debug_text(const char* text);
  std::uint32_t debug_count() const { return debug_count_; }
  const char* debug_get(std::uint32_t index) const;
  void debug_clear() { debug_first_ = debug_count_ = 0; }

 private:
  VirtualBus() = default;
  // Unplugs and replugs devices that restart after a firmware update.
  void run_restarts();

  // Every device plugged since the last reset, by id from first_id_ on. Ids
  // are never reused, so a handle from before a reset stays stale.
  static constexpr std::int32_t kDeviceStore = 64;
  std::unique_ptr<VirtualDevice> devices_[kDeviceStore];
  std::int32_t device_total_ = 0;
  std::int32_t first_id_ = 1;
  std::uint32_t clock_waiters_ = 0;
  VirtualDevice* order_[kMaxDevices] = {};
  int order_count_ = 0;
  std::uint64_t now_ms_ = 0;

  // Entries in a ring; their bytes in a byte ring, so one large frame
  // evicts many small ones rather than every entry reserving the maximum.
  static constexpr std::uint32_t kTraceEntries = 4096;
  static constexpr std::uint64_t kTraceBytes = 8u << 20;
  struct TraceEntry {
    std::int32_t device;
    std::uint8_t pipe;
    std::uint32_t length;
    std::uint32_t stored;
    std::uint64_t start;  // position of its bytes in the byte ring's history
  };
  std::unique_ptr<TraceEntry[]> trace_ = std::make_unique<TraceEntry[]>(kTraceEntries);
  std::unique_ptr<std::uint8_t[]> trace_bytes_ = std::make_unique<std::uint8_t[]>(kTraceBytes);
  std::uint64_t trace_written_ = 0;
  std::uint32_t trace_first_ = 0;
  std::uint32_t trace_count_ = 0;

  static constexpr std::uint32_t kDebugTexts = 1024;
  char debug_[kDebugTexts][96] = {};
  std::uint32_t debug_first_ = 0;
  std::uint32_t debug_count_ = 0;
};

}  // namespace maltor::sim
