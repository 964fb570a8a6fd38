// The card's log counts, whole card and per partition, and its current sector.
#include "MaltorUSBdrv.h"
#include "device/reply_decode.h"
#include "exports/call_barrier.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

using maltor::kBadArgument;
using maltor::kOk;
using maltor::device::query;
using maltor::device::ReplyDecode;
using maltor::device::run_and_copy;
using maltor::device::u16_at;
using maltor::device::u32_at;
using maltor::link::CommandId;
using maltor::link::Exchange;

namespace {

constexpr ReplyDecode kLogCount{1, {u16_at(5)}};
constexpr ReplyDecode kCurrentSector{1, {u32_at(5)}};

// What the count wrappers return when the count cannot be read: no logs, so
// a caller that walks the catalogue by the count reads nothing.
constexpr uint16_t kCountUnknown = 0;

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL SCSDLogCount(uint16_t* count) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kSdLogCount, kLogCount>(count); });
}

MALTOR_API uint16_t MALTOR_CALL GetLogCount(void) {
  return maltor::exports::guarded([&]() -> uint16_t {
    uint16_t count = kCountUnknown;
    return SCSDLogCount(&count) == kOk ? count : kCountUnknown;
  });
}

MALTOR_API uint8_t MALTOR_CALL SCPartitionLogCount(uint8_t partition, uint16_t* count) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (count == nullptr) return maltor::detail::refused_argument(kBadArgument);
    Exchange exchange(CommandId::kPartitionLogCount);
    if (!exchange.ready()) return exchange.refusal();
    exchange.payload()[0] = partition;
    return run_and_copy<kLogCount>(exchange, count);
  });
}

MALTOR_API uint16_t MALTOR_CALL GetPartitionLogCount(uint8_t partition) {
  return maltor::exports::guarded([&]() -> uint16_t {
    uint16_t count = kCountUnknown;
    return SCPartitionLogCount(partition, &count) == kOk ? count : kCountUnknown;
  });
}

MALTOR_API uint8_t MALTOR_CALL SCSDCurrentSector(uint32_t* sector) {
  return maltor::exports::guarded(
      [&]() -> uint8_t { return query<CommandId::kSdCurrentSector, kCurrentSector>(sector); });
}

}  // extern "C"
