#include "storage/mirel_log_file.h"

#include "link/device_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/mirel_frame.h"
#include "link/result.h"
#include "platform/os.h"

namespace maltor::storage {

namespace {

using link::kMirelDataOffset;
using link::kMirelLogFileCheck;
using link::kMirelLogFileRequest;
using link::MirelExchange;

inline constexpr std::uint32_t kRequestPayload = 8;
inline constexpr std::uint32_t kRequestReplyLength = 6;
inline constexpr std::uint32_t kCheckReplyLength = 8;

// The destination file and how much of the log reached it. Once a write
// failed nothing more is written, but the log is still read to its end, so
// the device is left idle.
struct Destination {
  platform::File file;
  std::uint64_t written = 0;
  bool failed = false;
};

// One data read of up to `length` bytes into the reply area; its bytes go to
// the file and into the sum as they came, before any newline translation.
// Returns the bytes read, 0 when nothing came.
std::uint32_t receive(Destination& out, std::uint32_t length, std::uint16_t& sum)
    MALTOR_REQUIRES(link::g_exchange_lock) {
  const std::uint32_t n = link::read_only(length, kLogFileTimeoutMs, link::Reader::kFixed);
  const std::uint8_t* reply = link::buffer0().reply;
  for (std::uint32_t i = 0; i < n; ++i) sum = static_cast<std::uint16_t>(sum + reply[i]);
  if (!out.failed) {
    const std::size_t taken = out.file.write(reply, n);
    out.written += taken;
    out.failed = taken != n;
  }
  return n;
}

// Reads `length` bytes in whole blocks and a remainder. False when a read
// brought nothing; `received` and `sum` cover what came before it.
bool receive_file(Destination& file, std::uint32_t length, std::uint32_t& received,
                  std::uint16_t& sum) MALTOR_REQUIRES(link::g_exchange_lock) {
  const std::uint32_t blocks = length / kLogFileBlock;
  const std::uint32_t remainder = length % kLogFileBlock;
  for (std::uint32_t block = 0; block < blocks; ++block) {
    const std::uint32_t n = receive(file, kLogFileBlock, sum);
    if (n == 0) return false;
    received += n;
  }
  if (remainder == 0) return true;
  const std::uint32_t n = receive(file, remainder, sum);
  received += n;
  return n != 0;
}

}  // namespace

std::uint8_t get_first_log_file(std::uint32_t section, std::uint32_t length, const char* path) {
  if (path == nullptr) return maltor::detail::refused_argument(kBadPath);
  // The file's reads come on the command IN pipe between two exchanges: the
  // turn holds the lock from the request to the check.
  const link::ExchangeTurn turn;
  if (!turn.granted()) return kUpdateRunning;

  MirelExchange request(kMirelLogFileRequest, kRequestPayload);
  if (!request.ready()) return request.refusal();
  // The one Mirel frame whose values go most significant byte first.
  link::put_u32_msb_first(request.payload(), section);
  link::put_u32_msb_first(request.payload() + 4, length);
  if (const std::uint8_t result = request.run(kRequestReplyLength, kLogFileTimeoutMs);
      result != kOk) {
    return result;
  }

  Destination out;
  if (!out.file.open(path, platform::FileMode::kWriteText)) {
    return detail::file_failure(kLogOpenFailed, detail::FileStep::kOpenForWriting, out.file, path,
                                0, length);
  }
  std::uint32_t received = 0;
  std::uint16_t sum = 0;
  const bool every_read_brought_bytes = receive_file(out, length, received, sum);
  if (out.failed) {
    return detail::file_failure(kLogOpenFailed, detail::FileStep::kWrite, out.file, path,
                                out.written, length);
  }
  if (!out.file.close()) {
    return detail::file_failure(kLogOpenFailed, detail::FileStep::kClose, out.file, path,
                                out.written, length);
  }
  if (!every_read_brought_bytes) return kExchangeFailed;
  // Bytes in every read yet fewer than asked: it stopped part-way, not a sum mismatch.
  if (received != length) {
    return detail::set(kExchangeFailed, detail::kDevice, 0, received, length,
                       "the device sent %u of the log file's %u bytes", received, length);
  }

  MirelExchange check(kMirelLogFileCheck);
  if (!check.ready()) return check.refusal();
  if (const std::uint8_t result = check.run(kCheckReplyLength, kLogFileTimeoutMs); result != kOk) {
    return result;
  }
  const std::uint16_t device_sum = link::get_u16(check.reply() + kMirelDataOffset);
  if (device_sum == sum) return kOk;
  return detail::set(kLogSumMismatch, detail::kDevice, 0, received, length,
                     "the log file's sum is 0x%04X, the device's 0x%04X", sum, device_sum);
}

}  // namespace maltor::storage
