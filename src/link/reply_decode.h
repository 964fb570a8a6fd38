// Reply decoding as data, and the packing of arguments into a payload. Most
// queries run one command-table row and copy fixed reply positions into the
// caller's outputs; each such query is a ReplyDecode (which reply bytes go to
// which output, in argument order) and the helpers below do the rest.
//
//   constexpr ReplyDecode kMicroType{1, {u8_at(5)}};
//   return query<CommandId::kGetMicroType, kMicroType>(type);
//
// A command whose arguments are plain integers is a PackedCommand: its row,
// the width of each argument in the payload and its decode.
//
//   constexpr PackedCommand kBusOn{CommandId::kCanBusOn, {1, {2}}, {1, {u32_at(5)}}};
//   return run_packed<kBusOn>(reply_word, bus);
//
// The outputs' types and the argument count are checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "link/byte_order.h"
#include "link/command_table.h"
#include "link/error_detail.h"
#include "link/exchange.h"
#include "link/result.h"

namespace maltor::link {

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

template <typename... Out>
constexpr bool outputs_match(const ReplyDecode& decode) {
  if (sizeof...(Out) != decode.count) return false;
  std::size_t i = 0;
  bool fits = true;
  ((fits = fits && output_fits<Out>(decode.fields[i++])), ...);
  return fits;
}

template <typename T>
void copy_field(const std::uint8_t* reply, const Field& field, T* out) {
  if (field.width == 0) {
    std::memcpy(out, reply + field.from, field.size);
    return;
  }
  *out = static_cast<T>(get_le(reply + field.from, field.size));
}

// Copies the decode's fields from `reply` into the outputs, in order.
template <const ReplyDecode& D, typename... Out>
void copy_reply(const std::uint8_t* reply, Out*... out) {
  static_assert(outputs_match<Out...>(D), "outputs do not match the reply decode");
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
std::uint8_t run_and_copy(Exchange& exchange, Out*... out) {
  if (const std::uint8_t result = exchange.run(); result != kOk) return result;
  copy_reply<D>(exchange.reply(), out...);
  return kOk;
}

// A query without payload: refuses null outputs before anything is sent,
// runs row `Id` and copies the decode into the outputs.
template <CommandId Id, const ReplyDecode& D, typename... Out>
std::uint8_t query(Out*... out) {
  if (any_null(out...)) return detail::refused_argument(kBadArgument);
  Exchange exchange(Id);
  if (!exchange.ready()) return exchange.refusal();
  return run_and_copy<D>(exchange, out...);
}

// ---- Arguments packed into the payload --------------------------------------

inline constexpr std::size_t kMaxArguments = 7;

// Byte width of each argument, in argument order; each goes into the payload
// least significant byte first, right after the one before.
struct PayloadLayout {
  std::uint8_t count;
  std::uint8_t widths[kMaxArguments];
};

// Writes `args` into `payload` as `layout` says.
void pack_payload(std::uint8_t* payload, const PayloadLayout& layout,
                  std::span<const std::uint32_t> args);

struct PackedCommand {
  CommandId command;
  PayloadLayout arguments;
  ReplyDecode decode;  // {0, {}} when only whether a reply came counts
};

// The arguments are at most 32-bit and fill exactly the payload that the
// command's frame length leaves between the header and the checksum.
constexpr bool payload_fills_frame(const PackedCommand& packed) {
  if (packed.arguments.count > kMaxArguments) return false;
  std::uint32_t payload = 0;
  for (std::size_t i = 0; i < packed.arguments.count; ++i) {
    if (packed.arguments.widths[i] == 0 || packed.arguments.widths[i] > 4) return false;
    payload += packed.arguments.widths[i];
  }
  return kPayloadOffset + payload + 1 == command(packed.command).write_length;
}

// Runs `P`: `out` is its one output, or nullptr when it decodes nothing; the
// arguments follow in payload order. A null output is refused before
// anything is sent; on success the decode is copied through `out`.
template <const PackedCommand& P, typename Out, typename... Args>
std::uint8_t run_packed(Out out, Args... args) {
  static_assert(payload_fills_frame(P), "arguments do not fill the command's payload");
  static_assert(sizeof...(Args) == P.arguments.count, "one argument per payload field");
  const std::uint32_t values[kMaxArguments] = {static_cast<std::uint32_t>(args)...};
  if constexpr (std::is_null_pointer_v<Out>) {
    static_assert(P.decode.count == 0, "the command decodes an output");
  } else {
    static_assert(outputs_match<std::remove_pointer_t<Out>>(P.decode),
                  "output does not match the reply decode");
    if (out == nullptr) return detail::refused_argument(kBadArgument);
  }
  Exchange exchange(P.command);
  if (!exchange.ready()) return exchange.refusal();
  pack_payload(exchange.payload(), P.arguments, std::span(values, sizeof...(Args)));
  if (const std::uint8_t result = exchange.run(); result != kOk) return result;
  if constexpr (!std::is_null_pointer_v<Out>) copy_field(exchange.reply(), P.decode.fields[0], out);
  return kOk;
}

}  // namespace maltor::link
