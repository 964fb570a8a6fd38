// Reply decoding as data. Most queries run one command-table row and copy
// fixed reply positions into the caller's outputs; each such query is a
// ReplyDecode (which reply bytes go to which output, in argument order) and
// the helpers below do the rest.
//
//   constexpr ReplyDecode kMicroType{1, {u8_at(5)}};
//   return query<CommandId::kGetMicroType, kMicroType>(type);
//
// The outputs' types are checked against the decode at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

namespace maltor::device {

// One output: `size` reply bytes from byte `from`. `width` 0 copies them as
// they are into a byte array; otherwise they are read least significant byte
// first into an unsigned integer output of `width` bytes (widened, never
// sign-extended, when `size` < `width`).
struct Field {
  std::uint16_t from;
  std::uint16_t size;
  std::uint8_t width;
};

constexpr Field bytes_at(std::uint16_t from, std::uint16_t size) {
  return {from, size, 0};
}
constexpr Field u8_at(std::uint16_t from) {
  return {from, 1, 1};
}
constexpr Field u16_at(std::uint16_t from) {
  return {from, 2, 2};
}
constexpr Field u32_at(std::uint16_t from) {
  return {from, 4, 4};
}
// One reply byte into a 32-bit output.
constexpr Field u8_into_u32_at(std::uint16_t from) {
  return {from, 1, 4};
}

inline constexpr std::size_t kMaxFields = 10;

struct ReplyDecode {
  std::uint8_t count;
  Field fields[kMaxFields];
};

template <typename T>
constexpr bool output_fits(const Field& field) {
  if (!std::is_unsigned_v<T> || field.size == 0) return false;
  if (field.width == 0) return std::is_same_v<T, std::uint8_t>;
  return sizeof(T) == field.width && field.size <= field.width;
}

template <const ReplyDecode& D, typename... Out>
constexpr bool outputs_match() {
  if (sizeof...(Out) != D.count) return false;
  std::size_t i = 0;
  bool fits = true;
  ((fits = fits && output_fits<Out>(D.fields[i++])), ...);
  return fits;
}

template <typename T>
void copy_field(const std::uint8_t* reply, const Field& field, T* out) {
  if (field.width == 0) {
    std::memcpy(out, reply + field.from, field.size);
    return;
  }
  std::uint32_t value = 0;
  for (std::uint16_t i = 0; i < field.size; ++i) {
    value |= static_cast<std::uint32_t>(reply[field.from + i]) << (8 * i);
  }
  *out = static_cast<T>(value);
}

// Copies the decode's fields from `reply` into the outputs, in order.
template <const ReplyDecode& D, typename... Out>
void copy_reply(const std::uint8_t* reply, Out*... out) {
  static_assert(outputs_match<D, Out...>(), "outputs do not match the reply decode");
  std::size_t i = 0;
  (copy_field(reply, D.fields[i++], out), ...);
}

template <typename... Out>
bool any_null(Out*... out) {
  return ((out == nullptr) || ...);
}

// Runs an exchange whose payload is in place; on success copies the decode
// into the outputs. Outputs stay untouched on any failure.
template <const ReplyDecode& D, typename... Out>
std::uint8_t run_and_copy(link::Exchange& exchange, Out*... out) {
  if (const std::uint8_t result = exchange.run(); result != kOk) return result;
  copy_reply<D>(exchange.reply(), out...);
  return kOk;
}

// A query without payload: refuses null outputs before anything is sent,
// runs row `Id` and copies the decode into the outputs.
template <link::CommandId Id, const ReplyDecode& D, typename... Out>
std::uint8_t query(Out*... out) {
  if (any_null(out...)) return maltor::detail::refused_argument(kBadArgument);
  link::Exchange exchange(Id);
  if (!exchange.ready()) return exchange.refusal();
  return run_and_copy<D>(exchange, out...);
}

}  // namespace maltor::device
