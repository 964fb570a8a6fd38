#include "storage/log_download.h"

#include <mutex>
#include <optional>

#include "link/connection.h"
#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"
#include "platform/mutex.h"
#include "platform/os.h"
#include "platform/usb.h"

namespace maltor::storage {

namespace {

// Guards the download flag alone: a stop from another thread clears it while
// the download reads it between chunks.
Mutex g_download_flag_lock;
std::uint8_t g_download_flag MALTOR_GUARDED_BY(g_download_flag_lock) = 0;

// The chunk buffer is a static of its own rather than part of slot 0's
// transfer buffer: a stop sent from another thread runs its exchange through
// that buffer while a chunk is being read.
std::uint8_t g_chunk[kChunkSize];

inline constexpr std::uint8_t kStalled = kExchangeFailed;

// Where the stream's bytes go. A destination that cannot be opened or
// written does not change the result: the stream is still read to its end,
// so the device is left idle, and the bytes the file could not take are
// dropped. What went wrong is kept for the error detail.
class Destination {
 public:
  Destination(const char* path, std::uint32_t expected) : path_(path), expected_(expected) {
    platform::remove_file(path);
    if (!file_.open(path, platform::FileMode::kAppendBinary))
      failed_ = detail::FileStep::kOpenForWriting;
  }

  void write(const std::uint8_t* bytes, std::uint32_t n) {
    if (failed_step()) return;
    const std::size_t taken = file_.write(bytes, n);
    written_ += taken;
    if (taken != n) failed_ = detail::FileStep::kWrite;
  }

  void close() {
    if (!failed_step() && !file_.close()) failed_ = detail::FileStep::kClose;
  }

  // Sets the detail of a destination that failed; false when none did.
  bool report(std::uint8_t result) const {
    if (!failed_step()) return false;
    detail::file_failure(result, *failed_, file_, path_, written_, expected_);
    return true;
  }

 private:
  bool failed_step() const { return failed_.has_value(); }

  platform::File file_;
  const char* path_;
  std::uint64_t expected_;
  std::uint64_t written_ = 0;
  std::optional<detail::FileStep> failed_;
};

// Reads the stream into `path` until `byte_count` bytes have come, a stop
// was asked for or the stream stalled. Returns kStalled, else the success
// value (1 or 0) of the last read, 1 when none was made.
std::uint8_t download_loop(const char* path, link::Handle usb, std::uint32_t byte_count) {
  Destination destination(path, byte_count);

  // A stop's pipe abort only releases a read already in progress; a read that
  // starts just after it would wait for data the device no longer sends. So
  // every read is bounded: one that ends empty finds the flag cleared and the
  // loop ends. 1,000 ms is ten times the longest read access time an SD card
  // may take, so a running stream never trips it, while a stop in that window
  // still ends the call within a second and a dead stream is reported after
  // ten empty reads (10 s).
  platform::set_pipe_timeout(usb, link::kStreamInPipe, kStreamReadTimeoutMs);

  std::uint32_t chunk = byte_count < kChunkSize ? byte_count : kChunkSize;
  bool go_on = download_flag() != 0;
  std::uint8_t result = 1;
  std::uint32_t received = 0;
  std::uint32_t empty_run = 0;
  while (byte_count != 0 && go_on) {
    std::uint32_t n = 0;
    result = platform::pipe_read_sync(usb, link::kStreamInPipe, g_chunk, chunk, &n) ? 1 : 0;
    received += n;
    empty_run = n == 0 ? empty_run + 1 : 0;
    if (n > 0) destination.write(g_chunk, n);
    const std::uint32_t remaining = byte_count - received;
    chunk = remaining < kChunkSize ? remaining : kChunkSize;
    go_on = download_flag() != 0;
    if (!go_on) platform::debug_output("Cancel Operation\n");
    if (empty_run >= kStallReads) {
      result = kStalled;
      break;
    }
    if (received >= byte_count) break;
  }

  destination.close();
  platform::pipe_abort(usb, link::kStreamInPipe);
  // Live-data reads on the same pipe may stay pending for long; they must not
  // inherit the download's bound.
  platform::set_pipe_timeout(usb, link::kStreamInPipe, 0);

  // The file's failure comes first: it says how much of the data was kept.
  const std::uint8_t returned = result == kStalled ? kExchangeFailed : kOk;
  if (!destination.report(returned) && result == kStalled) {
    detail::set(returned, detail::kDevice, 0, received, byte_count,
                "the device stopped sending after %u of %u bytes", received, byte_count);
  }
  return result;
}

}  // namespace

std::uint8_t download_flag() {
  const MutexLock held(g_download_flag_lock);
  return g_download_flag;
}

void set_download_flag(std::uint8_t value) {
  const MutexLock held(g_download_flag_lock);
  g_download_flag = value;
}

std::uint8_t request_send_data(const char* path, std::uint32_t first, std::uint32_t last) {
  if (path == nullptr) return maltor::detail::refused_argument(kBadArgument);
  link::Handle usb = link::kInvalidHandle;
  {
    link::Exchange exchange(link::CommandId::kSdRequestSendData);
    if (!exchange.ready()) return exchange.refusal();
    std::uint8_t* payload = exchange.payload();
    link::put_u32(payload, first);
    link::put_u32(payload + 4, last);
    // Frame bytes 13-14 are reserved; zeros rather than whatever an earlier
    // frame left in the request area, so the request is the same every time.
    payload[8] = 0;
    payload[9] = 0;
    if (const auto result = exchange.run(); result != kOk) return result;
    // Raised while the exchange still holds the lock: a stop, which needs
    // the lock for its own exchange, comes either before the request or
    // after the flag is up, never between the two where it would be lost.
    set_download_flag(1);
    usb = link::slot0().usb;
  }
  // Wraps modulo 2^32 like the device's own count.
  const std::uint32_t byte_count = (last - first + 1) * kSectorSize;
  return download_loop(path, usb, byte_count) == kStalled ? kExchangeFailed : kOk;
}

std::uint8_t stop_send_data() {
  link::Handle usb = link::kInvalidHandle;
  {
    link::Exchange exchange(link::CommandId::kSdStopSendData);
    if (!exchange.ready()) return exchange.refusal();
    usb = link::slot0().usb;
    if (const auto result = exchange.run(); result != kOk) return result;
    set_download_flag(0);
  }
  // Releases a stream read in progress; it holds no lock, so this needs none.
  platform::pipe_abort(usb, link::kStreamInPipe);
  return kOk;
}

}  // namespace maltor::storage
