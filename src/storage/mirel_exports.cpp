// The log-section queries over the Mirel frame.
#include "MaltorUSBdrv.h"
#include "device/reply_decode.h"
#include "exports/call_barrier.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"
#include "storage/mirel_frame.h"

using maltor::kBadArgument;
using maltor::kOk;
using maltor::device::any_null;
using maltor::device::bytes_at;
using maltor::device::copy_reply;
using maltor::device::ReplyDecode;
using maltor::device::u16_at;
using maltor::device::u32_at;
using maltor::storage::kMirelQueryTimeoutMs;
using maltor::storage::MirelExchange;

namespace {

// clang-format off
constexpr ReplyDecode kLogCounts{2, {u16_at(5), u16_at(7)}};
constexpr ReplyDecode kFirstSection{2, {u32_at(5), u32_at(9)}};
constexpr ReplyDecode kActiveSection{4, {u32_at(5), u32_at(9), u32_at(13), u32_at(17)}};
constexpr ReplyDecode kDescriptor{1, {bytes_at(5, 32)}};
// clang-format on

// Runs a Mirel exchange whose payload is in place; on status 0 copies the
// decode into the outputs.
template <const ReplyDecode& D, typename... Out>
uint8_t run_and_copy(MirelExchange& exchange, std::uint32_t read_length, Out*... out) {
  if (const uint8_t result = exchange.run(read_length, kMirelQueryTimeoutMs); result != kOk) {
    return result;
  }
  copy_reply<D>(exchange.reply(), out...);
  return kOk;
}

template <std::uint16_t Command, std::uint32_t ReadLength, const ReplyDecode& D, typename... Out>
uint8_t mirel_query(Out*... out) {
  if (any_null(out...)) return maltor::detail::refused_argument(kBadArgument);
  MirelExchange exchange(Command);
  if (!exchange.ready()) return exchange.refusal();
  return run_and_copy<D>(exchange, ReadLength, out...);
}

}  // namespace

extern "C" {

MALTOR_API uint8_t MALTOR_CALL MirelGetLogCount(uint16_t* first_count, uint16_t* second_count) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return mirel_query<maltor::storage::kMirelLogCount, 10, kLogCounts>(first_count, second_count);
  });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetFirstLogSection(uint32_t* word_1, uint32_t* word_2) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return mirel_query<maltor::storage::kMirelFirstLogSection, 14, kFirstSection>(word_1, word_2);
  });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetActiveLogSection(uint32_t* word_1, uint32_t* word_2,
                                                        uint32_t* word_3, uint32_t* word_4) {
  return maltor::exports::guarded([&]() -> uint8_t {
    return mirel_query<maltor::storage::kMirelActiveLogSection, 22, kActiveSection>(word_1, word_2,
                                                                                    word_3, word_4);
  });
}

MALTOR_API uint8_t MALTOR_CALL MirelGetDescriptorInfo(uint32_t index, uint8_t* record) {
  return maltor::exports::guarded([&]() -> uint8_t {
    if (record == nullptr) return maltor::detail::refused_argument(kBadArgument);
    MirelExchange exchange(maltor::storage::kMirelDescriptor, 4);
    if (!exchange.ready()) return exchange.refusal();
    maltor::link::put_u32(exchange.payload(), index);
    return run_and_copy<kDescriptor>(exchange, 38, record);
  });
}

}  // extern "C"
