// Bus control: InitBus, DeInitBus and the ten short per-bus commands. Each
// member is one row: its command, how its arguments lie in the payload and
// what it copies back. One path packs, exchanges and decodes for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "link/command_table.h"

namespace maltor::can {

enum class Control : std::uint8_t {
  kInitBus,
  kDeInitBus,
  kInterfaceEnable,
  kInterfaceDisable,
  kBusCount,
  kBusOpen,
  kBusClose,
  kBusOn,
  kBusOff,
  kParameterSet,
  kDataParameterSet,
  kBlockUidGet,
  kCount,
};

// What a member copies from the reply on success.
enum class Decode : std::uint8_t {
  kNothing,    // only whether a reply came counts
  kReplyWord,  // reply bytes 5-8 to a std::uint32_t
  kReplyByte,  // reply byte 5 to a std::uint8_t
};

inline constexpr std::size_t kMaxFields = 7;

struct ControlRow {
  Control which;
  link::CommandId command;
  Decode decode;
  std::uint8_t field_count;
  // Byte width of each argument, in argument order; each goes into the
  // payload least significant byte first, right after the one before.
  std::uint8_t widths[kMaxFields];
};

// clang-format off
inline constexpr ControlRow kControlRows[] = {
  {Control::kInitBus,          link::CommandId::kInitBus,             Decode::kNothing,   7, {1, 1, 1, 1, 4, 4, 4}},
  {Control::kDeInitBus,        link::CommandId::kDeInitBus,           Decode::kNothing,   0, {}},
  {Control::kInterfaceEnable,  link::CommandId::kCanInterfaceEnable,  Decode::kReplyWord, 0, {}},
  {Control::kInterfaceDisable, link::CommandId::kCanInterfaceDisable, Decode::kReplyWord, 0, {}},
  {Control::kBusCount,         link::CommandId::kCanBusCount,         Decode::kReplyByte, 0, {}},
  {Control::kBusOpen,          link::CommandId::kCanBusOpen,          Decode::kReplyWord, 2, {2, 1}},
  {Control::kBusClose,         link::CommandId::kCanBusClose,         Decode::kReplyWord, 1, {2}},
  {Control::kBusOn,            link::CommandId::kCanBusOn,            Decode::kReplyWord, 1, {2}},
  {Control::kBusOff,           link::CommandId::kCanBusOff,           Decode::kReplyWord, 1, {2}},
  {Control::kParameterSet,     link::CommandId::kCanParameterSet,     Decode::kReplyWord, 6, {2, 4, 1, 1, 1, 1}},
  {Control::kDataParameterSet, link::CommandId::kCanDataParameterSet, Decode::kReplyWord, 6, {2, 4, 1, 1, 1, 1}},
  {Control::kBlockUidGet,      link::CommandId::kCanBlockUidGet,      Decode::kReplyWord, 2, {2, 1}},
};
// clang-format on

constexpr const ControlRow& control_row(Control which) {
  return kControlRows[static_cast<std::size_t>(which)];
}

// Every row sits at its own index, and its fields fill exactly the payload
// that its command's frame length leaves.
constexpr bool control_rows_consistent() {
  if (std::size(kControlRows) != static_cast<std::size_t>(Control::kCount)) return false;
  for (std::size_t i = 0; i < std::size(kControlRows); ++i) {
    const ControlRow& row = kControlRows[i];
    if (static_cast<std::size_t>(row.which) != i || row.field_count > kMaxFields) return false;
    std::uint32_t payload = 0;
    for (std::size_t f = 0; f < row.field_count; ++f) {
      if (row.widths[f] == 0 || row.widths[f] > 4) return false;  // arguments are at most 32-bit
      payload += row.widths[f];
    }
    if (payload + 6 != link::command(row.command).write_length) return false;
  }
  return true;
}
static_assert(control_rows_consistent());

// Runs one member: returns MALTOR_ERR_ARGUMENT for a null `out` where the row
// decodes something (nothing sent), else packs `args`, exchanges and, on
// success, writes the decoded reply through `out` (a std::uint32_t* or a
// std::uint8_t*, as the row's Decode says).
std::uint8_t run_control(const ControlRow& row, void* out, std::span<const std::uint32_t> args);

// The output type each Decode writes through; nullptr where nothing is copied.
template <Decode decode>
using OutputOf = std::conditional_t<
    decode == Decode::kReplyWord, std::uint32_t*,
    std::conditional_t<decode == Decode::kReplyByte, std::uint8_t*, std::nullptr_t>>;

// The boundary's form: the output and the arguments in the order the export
// takes them, checked against the row at compile time.
template <Control which, typename Out, typename... Args>
std::uint8_t control(Out out, Args... args) {
  static_assert(std::is_same_v<Out, OutputOf<control_row(which).decode>>,
                "output type of the row's decode");
  static_assert(sizeof...(Args) == control_row(which).field_count,
                "one argument per payload field");
  const std::uint32_t values[kMaxFields] = {static_cast<std::uint32_t>(args)...};
  return run_control(control_row(which), out, std::span(values, sizeof...(Args)));
}

}  // namespace maltor::can
