#include "storage/catalogue.h"

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::storage {

namespace {

using link::CommandId;

constexpr link::ReplyDecode kLogCount{1, {link::u16_at(5)}};
constexpr link::ReplyDecode kCurrentSector{1, {link::u32_at(5)}};

// What the count wrappers return when the count cannot be read: no logs, so
// a caller that walks the catalogue by the count reads nothing.
constexpr std::uint16_t kCountUnknown = 0;

}  // namespace

std::uint8_t get_sd_log_count(std::uint16_t* count) {
  return link::query<CommandId::kSdLogCount, kLogCount>(count);
}

std::uint16_t sd_log_count() {
  std::uint16_t count = kCountUnknown;
  return detail::settle(get_sd_log_count(&count)) == kOk ? count : kCountUnknown;
}

std::uint8_t get_partition_log_count(std::uint8_t partition, std::uint16_t* count) {
  if (count == nullptr) return detail::refused_argument(kBadArgument);
  link::Exchange exchange(CommandId::kPartitionLogCount);
  if (!exchange.ready()) return exchange.refusal();
  exchange.payload()[0] = partition;
  return link::run_and_copy<kLogCount>(exchange, count);
}

std::uint16_t partition_log_count(std::uint8_t partition) {
  std::uint16_t count = kCountUnknown;
  return detail::settle(get_partition_log_count(partition, &count)) == kOk ? count : kCountUnknown;
}

std::uint8_t get_sd_current_sector(std::uint32_t* sector) {
  return link::query<CommandId::kSdCurrentSector, kCurrentSector>(sector);
}

}  // namespace maltor::storage
