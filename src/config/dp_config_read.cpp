#include "config/dp_config.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"
#include "platform/os.h"
#include "update/file_transfer.h"

namespace maltor::config {

namespace {

// Where the configuration's size lies in the configuration info reply.
constexpr std::uint32_t kSizeAt = 21;
// The download reports no success of its own: the caller judges it by the
// file, and the result is the same whether it finished or not.
constexpr std::uint8_t kDownloadEnded = kExchangeFailed;

}  // namespace

std::uint8_t read_configuration(const char* path) {
  if (path == nullptr) return kBadArgument;
  link::Exchange query(link::CommandId::kGetConfigInfo);
  if (!query.ready()) return kNoDevice;
  if (query.run() != kOk) return kExchangeFailed;
  const std::uint32_t size = link::get_u32(query.reply() + kSizeAt);
  if (size == 0) return kExchangeFailed;
  // No configuration is larger than the largest file the library sends; a
  // larger size is a garbled reply, and following it would mean millions
  // of requests with the exchange lock held.
  if (size > update::kImageCapacity) {
    return detail::set(kExchangeFailed, detail::kLimit, 0, 0, update::kImageCapacity,
                       "the device reports a configuration of %u bytes, more than %u",
                       static_cast<unsigned>(size), static_cast<unsigned>(update::kImageCapacity));
  }

  platform::remove_file(path);
  platform::File file;
  // Nothing is asked for when it has nowhere to go: the device hands each
  // byte out once, so the requests would only move it past them.
  if (!file.open(path, platform::FileMode::kAppendBinary)) return kDownloadEnded;

  std::uint32_t total = 0;
  std::uint32_t n = size < kReadChunk ? size : kReadChunk;
  while (n != 0) {
    link::Exchange request(link::CommandId::kConfigFileData, 0, n);
    link::put_u16(request.payload(), static_cast<std::uint16_t>(n));
    if (request.run() != kOk) break;
    file.write(request.reply() + link::kReplyDataOffset, n);
    total += n;
    n = std::uint64_t{total} + kReadChunk <= size ? kReadChunk : size - total;
  }
  return kDownloadEnded;
}

}  // namespace maltor::config
