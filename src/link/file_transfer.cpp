#include "link/file_transfer.h"

#include <cstdio>
#include <cstring>

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "platform/os.h"
#include "platform/usb.h"

namespace maltor::link {

namespace {

// Static like the transfer buffers, so that a transfer allocates nothing.
std::uint8_t g_image[kImageCapacity] MALTOR_GUARDED_BY(g_exchange_lock);

enum class FrameResult : std::uint8_t { kDone, kWriteFailed, kReadFailed };

// Stamps the frame of row `id` whose payload is already in the request area
// (`extra` bytes beyond the row's own length), writes it and reads the reply.
FrameResult send_frame(CommandId id, std::uint32_t extra, std::uint8_t& sequence)
    MALTOR_REQUIRES(g_exchange_lock) {
  const CommandRow& row = command(id);
  TransferBuffer& buffer = buffer0();
  const std::uint32_t length = stamp_frame(row, extra, sequence++);
  seal_frame(length);

  const Handle usb = slot0().usb;
  std::uint32_t moved = 0;
  if (!platform::pipe_write_sync(usb, kCommandOutPipe, buffer.request, length, &moved)) {
    return FrameResult::kWriteFailed;
  }
  // Only the read's success counts; what the device answers is not looked at.
  if (!platform::pipe_read_sync(usb, kCommandInPipe, buffer.reply, row.read_length, &moved)) {
    return FrameResult::kReadFailed;
  }
  return FrameResult::kDone;
}

// Synchronous transfers have no wait of their own: a device that stops
// answering would hold the caller's thread for ever. Both command pipes are
// bounded while the exchange runs. 10 s is twice the longest wait for any
// standard reply, leaving room for a device that erases its flash before it
// answers the start frame. The bound is lifted afterwards, so the overlapped
// exchanges on the same pipes keep only their own waits.
class PipeBound {
 public:
  explicit PipeBound(Handle usb) : usb_(usb) { set(kTransferTimeoutMs); }
  ~PipeBound() { set(0); }
  PipeBound(const PipeBound&) = delete;
  PipeBound& operator=(const PipeBound&) = delete;

 private:
  void set(std::uint32_t timeout_ms) {
    platform::set_pipe_timeout(usb_, kCommandOutPipe, timeout_ms);
    platform::set_pipe_timeout(usb_, kCommandInPipe, timeout_ms);
  }
  Handle usb_;
};

}  // namespace

std::uint32_t chunk_limit() {
  return g_high_speed != 0 ? kHighSpeedChunk : kFullSpeedChunk;
}

std::uint16_t image_sum(const std::uint8_t* bytes, std::uint32_t length) {
  std::uint16_t sum = 0;
  for (std::uint32_t i = 0; i < length; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
  return sum;
}

bool load_image(const char* path, std::uint32_t* length) {
  std::memset(g_image, 0, sizeof g_image);
  // Closed when this returns, before any USB traffic.
  platform::File file;
  if (!file.open(path, platform::FileMode::kReadBinary)) {
    detail::file_failure(0, detail::FileStep::kOpenForReading, file, path, 0, 0);
    return false;
  }
  const std::int64_t size = file.seek(0, SEEK_END) ? file.tell() : -1;
  if (size <= 0 || size > std::int64_t{kImageCapacity} || !file.seek(0, SEEK_SET)) {
    detail::set(0, detail::kFile, 0, 0, size > 0 ? static_cast<std::uint64_t>(size) : 0,
                "cannot send %s: its size is %lld bytes, where 1 to %u can be sent", path,
                static_cast<long long>(size), kImageCapacity);
    return false;
  }
  const auto n = static_cast<std::uint32_t>(size);
  if (const std::size_t got = file.read(g_image, n); got != n) {
    detail::file_failure(0, detail::FileStep::kRead, file, path, got, n);
    return false;
  }
  *length = n;
  return true;
}

const std::uint8_t* image() {
  return g_image;
}

TransferOutcome run_file_transfer(const TransferCommands& commands,
                                  const std::uint8_t* start_payload, std::uint32_t length,
                                  std::uint32_t limit, std::uint8_t& sequence) {
  const PipeBound bound(slot0().usb);
  std::uint8_t* payload = buffer0().request + kPayloadOffset;

  // The start row's payload lies between the frame header and the checksum.
  const std::uint32_t start_length = command(commands.start).write_length;
  std::memcpy(payload, start_payload, start_length - kPayloadOffset - 1);
  if (send_frame(commands.start, 0, sequence) != FrameResult::kDone) return {false, false};

  for (std::uint32_t offset = 0; offset < length;) {
    const std::uint32_t n = chunk_length(length - offset, limit);
    put_u32(payload, offset);
    put_u16(payload + 4, static_cast<std::uint16_t>(n));
    std::memcpy(payload + 6, g_image + offset, n);
    if (send_frame(commands.data, n, sequence) != FrameResult::kDone) return {false, false};
    offset += n;
  }

  put_u16(payload, image_sum(g_image, length));
  const FrameResult end = send_frame(commands.end, 0, sequence);
  return {end == FrameResult::kDone, end != FrameResult::kWriteFailed};
}

}  // namespace maltor::link
