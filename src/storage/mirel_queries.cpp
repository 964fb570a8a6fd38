#include "storage/mirel_queries.h"

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/mirel_frame.h"
#include "link/reply_decode.h"
#include "link/result.h"

namespace maltor::storage {

namespace {

using link::kMirelActiveLogSection;
using link::kMirelDescriptor;
using link::kMirelFirstLogSection;
using link::kMirelLogCount;
using link::kMirelQueryTimeoutMs;
using link::MirelExchange;
using link::ReplyDecode;
using link::u16_at;
using link::u32_at;

// clang-format off
constexpr ReplyDecode kLogCounts{2, {u16_at(5), u16_at(7)}};
constexpr ReplyDecode kFirstSection{2, {u32_at(5), u32_at(9)}};
constexpr ReplyDecode kActiveSection{4, {u32_at(5), u32_at(9), u32_at(13), u32_at(17)}};
constexpr ReplyDecode kDescriptor{1, {link::bytes_at(5, 32)}};
// clang-format on

// Runs a Mirel exchange whose payload is in place; on status 0 copies the
// decode into the outputs.
template <const ReplyDecode& D, typename... Out>
std::uint8_t run_and_copy(MirelExchange& exchange, std::uint32_t read_length, Out*... out) {
  if (const std::uint8_t result = exchange.run(read_length, kMirelQueryTimeoutMs); result != kOk) {
    return result;
  }
  link::copy_reply<D>(exchange.reply(), out...);
  return kOk;
}

template <std::uint16_t Command, std::uint32_t ReadLength, const ReplyDecode& D, typename... Out>
std::uint8_t mirel_query(Out*... out) {
  if (link::any_null(out...)) return detail::refused_argument(kBadArgument);
  MirelExchange exchange(Command);
  if (!exchange.ready()) return exchange.refusal();
  return run_and_copy<D>(exchange, ReadLength, out...);
}

}  // namespace

std::uint8_t get_mirel_log_count(std::uint16_t* first_count, std::uint16_t* second_count) {
  return mirel_query<kMirelLogCount, 10, kLogCounts>(first_count, second_count);
}

std::uint8_t get_mirel_first_log_section(std::uint32_t* word_1, std::uint32_t* word_2) {
  return mirel_query<kMirelFirstLogSection, 14, kFirstSection>(word_1, word_2);
}

std::uint8_t get_mirel_active_log_section(std::uint32_t* word_1, std::uint32_t* word_2,
                                          std::uint32_t* word_3, std::uint32_t* word_4) {
  return mirel_query<kMirelActiveLogSection, 22, kActiveSection>(word_1, word_2, word_3, word_4);
}

std::uint8_t get_mirel_descriptor_info(std::uint32_t index, std::uint8_t* record) {
  if (record == nullptr) return detail::refused_argument(kBadArgument);
  MirelExchange exchange(kMirelDescriptor, 4);
  if (!exchange.ready()) return exchange.refusal();
  link::put_u32(exchange.payload(), index);
  return run_and_copy<kDescriptor>(exchange, 38, record);
}

}  // namespace maltor::storage
