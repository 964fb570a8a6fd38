#include "config/dp_config.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/file_transfer.h"
#include "link/result.h"
#include "platform/os.h"

namespace maltor::config {

namespace {

// Where the configuration's size lies in the configuration info reply.
constexpr std::uint32_t kSizeAt = 21;
// The download reports no success of its own: the caller judges it by the
// file, and the result is the same whether it finished or not.
constexpr std::uint8_t kDownloadEnded = kExchangeFailed;
// The largest configuration the library sends; a device that reports more is
// not believed, as the reads would otherwise run on without bound.
constexpr std::uint32_t kMaxConfiguration = link::kImageCapacity;

}  // namespace

std::uint8_t read_configuration(const char* path) {
  if (path == nullptr) return maltor::detail::refused_argument(kBadArgument);
  link::Exchange query(link::CommandId::kGetConfigInfo);
  if (!query.ready()) return kNoDevice;
  if (query.run() != kOk) return kExchangeFailed;
  const std::uint32_t size = link::get_u32(query.reply() + kSizeAt);
  if (size == 0) {
    return detail::set(kExchangeFailed, detail::kDevice, 0, 0, 0,
                       "the device reports no configuration (size 0)");
  }
  if (size > kMaxConfiguration) {
    return detail::set(kExchangeFailed, detail::kLimit, 0, 0, size,
                       "the device reports a configuration of %u bytes, more than the %u the "
                       "library accepts; nothing was read",
                       size, kMaxConfiguration);
  }

  platform::remove_file(path);
  platform::File file;
  // Nothing is asked for when it has nowhere to go: the device hands each
  // byte out once, so the requests would only move it past them.
  if (!file.open(path, platform::FileMode::kAppendBinary)) {
    return detail::file_failure(kDownloadEnded, detail::FileStep::kOpenForWriting, file, path, 0,
                                size);
  }

  std::uint32_t total = 0;
  std::uint32_t n = size < kReadChunk ? size : kReadChunk;
  while (n != 0) {
    link::Exchange request(link::CommandId::kConfigFileData, 0, n);
    link::put_u16(request.payload(), static_cast<std::uint16_t>(n));
    if (request.run() != kOk) return kDownloadEnded;
    // A file that takes no more ends the reads: the device hands each byte
    // out once, and what it hands out now would be lost.
    const std::size_t taken = file.write(request.reply() + link::kReplyDataOffset, n);
    if (taken != n) {
      return detail::file_failure(kDownloadEnded, detail::FileStep::kWrite, file, path,
                                  total + taken, size);
    }
    total += n;
    n = std::uint64_t{total} + kReadChunk <= size ? kReadChunk : size - total;
  }
  if (!file.close()) {
    return detail::file_failure(kDownloadEnded, detail::FileStep::kClose, file, path, total, size);
  }
  return kDownloadEnded;
}

}  // namespace maltor::config
