#include "link/usb_trace.h"

#include <cstring>
#include <new>

#include "MaltorUSBdrv.h"
#include "link/byte_order.h"
#include "link/error_detail.h"
#include "link/result.h"
#include "platform/clock.h"
#include "platform/mutex.h"
#include "platform/os.h"

namespace maltor::trace {

namespace {

using link::put_u16;
using link::put_u32;
using link::put_u64;

#define MALTOR_TRACE_TEXT(x) #x
#define MALTOR_TRACE_NUMBER(x) MALTOR_TRACE_TEXT(x)
constexpr char kLibraryName[] =
    "MaltorUSBdrv " MALTOR_TRACE_NUMBER(MALTOR_USBDRV_VERSION_MAJOR) "." MALTOR_TRACE_NUMBER(
        MALTOR_USBDRV_VERSION_MINOR) "." MALTOR_TRACE_NUMBER(MALTOR_USBDRV_VERSION_PATCH);
constexpr char kInterfaceName[] = "MaltorUSBdrv";

constexpr std::uint32_t kLinkTypeUsbLinuxMmapped = 220;
constexpr std::uint32_t kUsbmonHeader = 64;
constexpr std::uint8_t kBulk = 3;
constexpr std::uint8_t kControl = 2;
constexpr std::uint16_t kBus = 1;
// Transfers on a handle opened before the library could see it.
constexpr std::uint8_t kUnknownAddress = 127;

// usbmon statuses are negative errno values, the same on every host.
constexpr std::int32_t kInProgress = -115;  // EINPROGRESS, every submission
std::int32_t status_of(Outcome outcome) {
  switch (outcome) {
    case Outcome::kDone:
      return 0;
    case Outcome::kTimeout:
      return -110;  // ETIMEDOUT
    case Outcome::kAborted:
      return -2;  // ENOENT: the transfer was unlinked
    case Outcome::kGone:
      return -19;  // ENODEV
    case Outcome::kFailed:
      break;
  }
  return -71;  // EPROTO
}

// Writes are gathered here and go to the file when it is full, at stop and
// at unload, so a crash loses at most this much.
constexpr std::size_t kBufferSize = 64 * 1024;

struct KnownDevice {
  std::uint64_t path_hash;
  std::uint16_t vendor;
  std::uint16_t product;
};
constexpr int kKnownDevices = 32;

// A device handle (file, then USB interface) and what the trace shows of it.
struct OpenDevice {
  std::uint64_t handle;
  std::uint16_t vendor;
  std::uint16_t product;
  std::uint8_t address;  // usbmon device address, 1 to 126
  bool described;        // its descriptor exchange is in the running trace
};
constexpr int kOpenDevices = 16;

struct State {
  Mutex lock;
  platform::File file MALTOR_GUARDED_BY(lock);
  char path[260] MALTOR_GUARDED_BY(lock);
  std::uint8_t buffer[kBufferSize] MALTOR_GUARDED_BY(lock);
  std::size_t used MALTOR_GUARDED_BY(lock);
  std::uint64_t next_id MALTOR_GUARDED_BY(lock);
  KnownDevice known[kKnownDevices] MALTOR_GUARDED_BY(lock);
  int known_next MALTOR_GUARDED_BY(lock);
  OpenDevice files[kOpenDevices] MALTOR_GUARDED_BY(lock);
  OpenDevice interfaces[kOpenDevices] MALTOR_GUARDED_BY(lock);
  int files_next MALTOR_GUARDED_BY(lock);
  int interfaces_next MALTOR_GUARDED_BY(lock);
  std::uint8_t last_address MALTOR_GUARDED_BY(lock);
};
// Never destroyed: the library's unload action flushes the trace after the
// static destructors of the library may have run.
alignas(State) unsigned char g_state_storage[sizeof(State)];
State& g_state = *new (g_state_storage) State();
std::atomic<std::uint64_t> g_bytes{0};
std::atomic<std::uint32_t> g_aborts[32];

std::size_t abort_index(std::uint8_t pipe) {
  return (pipe & 0x0F) | ((pipe & 0x80) >> 3);
}

std::uint64_t hash_path(const char* path) {
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (; *path != '\0'; ++path) {
    hash = (hash ^ static_cast<unsigned char>(*path)) * 0x100000001B3u;
  }
  return hash;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits after `tag` ("VID_", "PID_", either case) in `text`.
bool hex_after(const char* text, const char* tag, std::uint16_t* value) {
  const std::size_t tag_length = std::strlen(tag);
  for (const char* at = text; *at != '\0'; ++at) {
    std::size_t i = 0;
    while (i < tag_length && at[i] != '\0' && (at[i] | 0x20) == (tag[i] | 0x20)) ++i;
    if (i != tag_length) continue;
    std::uint16_t result = 0;
    for (std::size_t d = 0; d < 4; ++d) {
      const int digit = hex_digit(at[tag_length + d]);
      if (digit < 0) return false;
      result = static_cast<std::uint16_t>(result << 4 | digit);
    }
    *value = result;
    return true;
  }
  return false;
}

// ---- Writing (lock held) ---------------------------------------------------

// Stops the trace after a failed write and tells the calling thread why; the
// device operation in progress goes on as if nothing had been traced.
void give_up(State& s) MALTOR_REQUIRES(s.lock) {
  platform::g_tracing.store(false, std::memory_order_relaxed);
  s.file.close();
  s.used = 0;
  detail::set(kFileOpenFailed, detail::kFile, 0, 0, 0,
              "the USB trace %s could not be written; tracing stopped", s.path);
}

bool flush_buffer(State& s) MALTOR_REQUIRES(s.lock) {
  if (s.used == 0) return true;
  const bool written = s.file.write(s.buffer, s.used) == s.used;
  g_bytes.fetch_add(s.used, std::memory_order_relaxed);
  s.used = 0;
  return written;
}

bool emit(State& s, const void* data, std::size_t length) MALTOR_REQUIRES(s.lock) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (length > 0) {
    if (s.used == kBufferSize && !flush_buffer(s)) return false;
    std::size_t take = kBufferSize - s.used;
    if (take > length) take = length;
    std::memcpy(s.buffer + s.used, bytes, take);
    s.used += take;
    bytes += take;
    length -= take;
  }
  return true;
}

std::uint32_t padded(std::uint32_t length) {
  return (length + 3u) & ~3u;
}

struct Packet {
  std::uint64_t id;
  char type;  // 'S' submission, 'C' completion
  std::uint8_t transfer_type;
  std::uint8_t endpoint;
  std::int32_t status;
  std::uint32_t urb_length;
  const std::uint8_t* setup;  // 8 bytes, control submissions only
  char data_flag;             // 0 when data follow, else why not ('<' or '>')
  const std::uint8_t* data;
  std::uint32_t data_length;
};

// One enhanced packet block: a usbmon header and the data.
bool write_packet(State& s, std::int64_t time_us, std::uint8_t address, const Packet& p)
    MALTOR_REQUIRES(s.lock) {
  const std::uint32_t captured = kUsbmonHeader + p.data_length;
  const std::uint32_t block_length = 32 + padded(captured);
  std::uint8_t head[28 + kUsbmonHeader] = {};
  put_u32(head, 6);
  put_u32(head + 4, block_length);
  put_u32(head + 8, 0);  // interface 0
  put_u32(head + 12, static_cast<std::uint32_t>(static_cast<std::uint64_t>(time_us) >> 32));
  put_u32(head + 16, static_cast<std::uint32_t>(time_us));
  put_u32(head + 20, captured);
  put_u32(head + 24, captured);
  std::uint8_t* h = head + 28;
  put_u64(h, p.id);
  h[8] = static_cast<std::uint8_t>(p.type);
  h[9] = p.transfer_type;
  h[10] = p.endpoint;
  h[11] = address;
  put_u16(h + 12, kBus);
  h[14] = p.setup != nullptr ? 0 : '-';
  h[15] = static_cast<std::uint8_t>(p.data_flag);
  put_u64(h + 16, static_cast<std::uint64_t>(time_us / 1000000));
  put_u32(h + 24, static_cast<std::uint32_t>(time_us % 1000000));
  put_u32(h + 28, static_cast<std::uint32_t>(p.status));
  put_u32(h + 32, p.urb_length);
  put_u32(h + 36, p.data_length);
  if (p.setup != nullptr) std::memcpy(h + 40, p.setup, 8);
  // interval, start frame, transfer flags and descriptor count stay 0.
  static constexpr std::uint8_t kZeros[4] = {};
  std::uint8_t trailer[4];
  put_u32(trailer, block_length);
  return emit(s, head, sizeof head) && emit(s, p.data, p.data_length) &&
         emit(s, kZeros, padded(captured) - captured) && emit(s, trailer, 4);
}

// A pcapng option: code, length, value, padding.
std::size_t put_option(std::uint8_t* out, std::uint16_t code, const void* value,
                       std::uint16_t length) {
  put_u16(out, code);
  put_u16(out + 2, length);
  if (length > 0) std::memcpy(out + 4, value, length);  // an empty option may have no value
  std::memset(out + 4 + length, 0, padded(length) - length);
  return 4 + padded(length);
}

bool write_header_blocks(State& s) MALTOR_REQUIRES(s.lock) {
  std::uint8_t block[256];
  // Section header: byte-order magic, version 1.0, unknown section length,
  // the writing application.
  std::size_t n = 0;
  put_u32(block, 0x0A0D0D0A);
  put_u32(block + 8, 0x1A2B3C4D);
  put_u16(block + 12, 1);
  put_u16(block + 14, 0);
  put_u64(block + 16, ~std::uint64_t{0});
  n = 24;
  n += put_option(block + n, 4, kLibraryName, sizeof kLibraryName - 1);
  n += put_option(block + n, 0, nullptr, 0);
  put_u32(block + 4, static_cast<std::uint32_t>(n + 4));
  put_u32(block + n, static_cast<std::uint32_t>(n + 4));
  if (!emit(s, block, n + 4)) return false;

  // Interface description: usbmon link type, no snapshot limit, the library
  // and its version, microsecond timestamps.
  put_u32(block, 1);
  put_u16(block + 8, kLinkTypeUsbLinuxMmapped);
  put_u16(block + 10, 0);
  put_u32(block + 12, 0);
  n = 16;
  n += put_option(block + n, 2, kInterfaceName, sizeof kInterfaceName - 1);
  n += put_option(block + n, 3, kLibraryName, sizeof kLibraryName - 1);
  const std::uint8_t microseconds = 6;
  n += put_option(block + n, 9, &microseconds, 1);
  n += put_option(block + n, 0, nullptr, 0);
  put_u32(block + 4, static_cast<std::uint32_t>(n + 4));
  put_u32(block + n, static_cast<std::uint32_t>(n + 4));
  return emit(s, block, n + 4);
}

// The device descriptor as a GET_DESCRIPTOR exchange on the default pipe.
bool write_descriptor_exchange(State& s, std::int64_t time_us, const OpenDevice& device)
    MALTOR_REQUIRES(s.lock) {
  static constexpr std::uint8_t kSetup[8] = {0x80, 0x06, 0x00, 0x01, 0x00, 0x00, 18, 0x00};
  std::uint8_t descriptor[18] = {18, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x00, 64};
  put_u16(descriptor + 8, device.vendor);
  put_u16(descriptor + 10, device.product);
  put_u16(descriptor + 12, 0x0100);
  descriptor[17] = 1;  // one configuration
  const std::uint64_t id = ++s.next_id;
  return write_packet(s, time_us, device.address,
                      Packet{id, 'S', kControl, 0x80, kInProgress, 18, kSetup, '<', nullptr, 0}) &&
         write_packet(s, time_us, device.address,
                      Packet{id, 'C', kControl, 0x80, 0, 18, nullptr, 0, descriptor, 18});
}

// The open interface `usb`; null for a handle the trace never saw opened.
OpenDevice* interface_of(State& s, std::uint64_t usb) MALTOR_REQUIRES(s.lock) {
  for (OpenDevice& device : s.interfaces) {
    if (device.address != 0 && device.handle == usb) return &device;
  }
  return nullptr;
}

// The address a transfer on `usb` shows, after the device's descriptor
// exchange when this trace has not shown it yet. 0 on a failed write.
std::uint8_t address_for(State& s, std::int64_t time_us, std::uint64_t usb)
    MALTOR_REQUIRES(s.lock) {
  OpenDevice* device = interface_of(s, usb);
  if (device == nullptr) return kUnknownAddress;
  if (!device->described) {
    if ((device->vendor != 0 || device->product != 0) &&
        !write_descriptor_exchange(s, time_us, *device)) {
      return 0;
    }
    device->described = true;
  }
  return device->address;
}

}  // namespace

bool start(const char* path) {
  stop();
  State& s = g_state;
  const MutexLock held(s.lock);
  if (path == nullptr || path[0] == '\0') return false;
  std::size_t length = std::strlen(path);
  if (length >= sizeof s.path) length = sizeof s.path - 1;
  std::memcpy(s.path, path, length);
  s.path[length] = '\0';
  if (!s.file.open(path, platform::FileMode::kWriteBinary)) return false;
  s.used = 0;
  const bool written = write_header_blocks(s);
  for (OpenDevice& device : s.interfaces) device.described = false;
  // The header reaches the file at once, so that a file that cannot be
  // written is refused here rather than in the first exchange.
  if (!written || !flush_buffer(s) || !s.file.flush()) {
    s.file.close();
    s.used = 0;
    return false;
  }
  for (auto& count : g_aborts) count.store(0, std::memory_order_relaxed);
  platform::g_tracing.store(true, std::memory_order_relaxed);
  return true;
}

bool stop() {
  State& s = g_state;
  const MutexLock held(s.lock);
  if (!running()) return true;
  platform::g_tracing.store(false, std::memory_order_relaxed);
  const bool flushed = flush_buffer(s);
  const bool closed = s.file.close();
  return flushed && closed;
}

std::uint8_t start_trace(const char* path) {
  if (start(path)) return kOk;
  return detail::set(kFileOpenFailed, detail::kFile, 0, 0, 0,
                     "the USB trace %s could not be created or written",
                     path == nullptr ? "(null)" : path);
}

void stop_trace() {
  if (!stop()) {
    detail::set(kFileOpenFailed, detail::kFile, 0, 0, 0,
                "the USB trace's last bytes could not be written");
  }
}

std::uint64_t bytes_written() {
  const MutexLock held(g_state.lock);
  return g_bytes.load(std::memory_order_relaxed) + g_state.used;
}

std::uint64_t submitted(std::uint64_t usb, std::uint8_t pipe, const std::uint8_t* data,
                        std::uint32_t length) {
  if (!running()) return 0;
  const std::int64_t now = platform::now_microseconds();
  State& s = g_state;
  const MutexLock held(s.lock);
  if (!running()) return 0;
  const std::uint8_t address = address_for(s, now, usb);
  const std::uint64_t id = ++s.next_id;
  const bool out = (pipe & 0x80) == 0;
  const Packet packet{id,
                      'S',
                      kBulk,
                      pipe,
                      kInProgress,
                      length,
                      nullptr,
                      out ? '\0' : '<',
                      out ? data : nullptr,
                      out ? length : 0};
  if (address == 0 || !write_packet(s, now, address, packet)) {
    give_up(s);
    return 0;
  }
  return id;
}

void completed(std::uint64_t id, std::uint64_t usb, std::uint8_t pipe, Outcome outcome,
               const std::uint8_t* data, std::uint32_t count) {
  if (id == 0 || !running()) return;
  const std::int64_t now = platform::now_microseconds();
  State& s = g_state;
  const MutexLock held(s.lock);
  if (!running()) return;
  const bool in = (pipe & 0x80) != 0 && data != nullptr;
  const Packet packet{id,
                      'C',
                      kBulk,
                      pipe,
                      status_of(outcome),
                      count,
                      nullptr,
                      in ? '\0' : '>',
                      in ? data : nullptr,
                      in ? count : 0};
  const OpenDevice* device = interface_of(s, usb);
  if (!write_packet(s, now, device != nullptr ? device->address : kUnknownAddress, packet)) {
    give_up(s);
  }
}

void pipe_aborted(std::uint8_t pipe) {
  if (running()) g_aborts[abort_index(pipe)].fetch_add(1, std::memory_order_relaxed);
}

std::uint32_t aborts(std::uint8_t pipe) {
  return g_aborts[abort_index(pipe)].load(std::memory_order_relaxed);
}

void device_listed(const char* path, const char* instance_id) {
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  if (path[0] == '\0' || !hex_after(instance_id, "VID_", &vendor) ||
      !hex_after(instance_id, "PID_", &product)) {
    return;
  }
  State& s = g_state;
  const MutexLock held(s.lock);
  const std::uint64_t hash = hash_path(path);
  for (KnownDevice& known : s.known) {
    if (known.path_hash == hash) {
      known = KnownDevice{hash, vendor, product};
      return;
    }
  }
  s.known[s.known_next] = KnownDevice{hash, vendor, product};
  s.known_next = (s.known_next + 1) % kKnownDevices;
}

void device_opened(const char* path, std::uint64_t file) {
  State& s = g_state;
  const MutexLock held(s.lock);
  const std::uint64_t hash = hash_path(path);
  OpenDevice opened{file, 0, 0, 0, false};
  for (const KnownDevice& known : s.known) {
    if (known.path_hash == hash) {
      opened.vendor = known.vendor;
      opened.product = known.product;
    }
  }
  s.files[s.files_next] = opened;
  s.files_next = (s.files_next + 1) % kOpenDevices;
}

void interface_opened(std::uint64_t file, std::uint64_t usb) {
  State& s = g_state;
  const MutexLock held(s.lock);
  for (const OpenDevice& opened : s.files) {
    if (opened.handle != file) continue;
    // Each opening gets a new address, as a re-enumerated device would.
    s.last_address = static_cast<std::uint8_t>(s.last_address % 126 + 1);
    s.interfaces[s.interfaces_next] =
        OpenDevice{usb, opened.vendor, opened.product, s.last_address, false};
    s.interfaces_next = (s.interfaces_next + 1) % kOpenDevices;
    return;
  }
}

}  // namespace maltor::trace
