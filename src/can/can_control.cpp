#include "can/can_control.h"

#include "link/command_table.h"
#include "link/reply_decode.h"

namespace maltor::can {

namespace {

using link::CommandId;
using link::PackedCommand;
using link::ReplyDecode;

constexpr ReplyDecode kNothing{0, {}};  // only whether a reply came counts
constexpr ReplyDecode kReplyWord{1, {link::u32_at(5)}};
constexpr ReplyDecode kReplyByte{1, {link::u8_at(5)}};

// clang-format off
constexpr PackedCommand kInitBus         {CommandId::kInitBus,             {7, {1, 1, 1, 1, 4, 4, 4}}, kNothing};
constexpr PackedCommand kDeInitBus       {CommandId::kDeInitBus,           {0, {}},                    kNothing};
constexpr PackedCommand kInterfaceEnable {CommandId::kCanInterfaceEnable,  {0, {}},                    kReplyWord};
constexpr PackedCommand kInterfaceDisable{CommandId::kCanInterfaceDisable, {0, {}},                    kReplyWord};
constexpr PackedCommand kBusCount        {CommandId::kCanBusCount,         {0, {}},                    kReplyByte};
constexpr PackedCommand kBusOpen         {CommandId::kCanBusOpen,          {2, {2, 1}},                kReplyWord};
constexpr PackedCommand kBusClose        {CommandId::kCanBusClose,         {1, {2}},                   kReplyWord};
constexpr PackedCommand kBusOn           {CommandId::kCanBusOn,            {1, {2}},                   kReplyWord};
constexpr PackedCommand kBusOff          {CommandId::kCanBusOff,           {1, {2}},                   kReplyWord};
constexpr PackedCommand kParameterSet    {CommandId::kCanParameterSet,     {6, {2, 4, 1, 1, 1, 1}},    kReplyWord};
constexpr PackedCommand kDataParameterSet{CommandId::kCanDataParameterSet, {6, {2, 4, 1, 1, 1, 1}},    kReplyWord};
constexpr PackedCommand kBlockUidGet     {CommandId::kCanBlockUidGet,      {2, {2, 1}},                kReplyWord};
// clang-format on

}  // namespace

std::uint8_t init_bus(const MaltorBusSetup& setup) {
  return link::run_packed<kInitBus>(nullptr, setup.setup_byte_1, setup.setup_byte_2,
                                    setup.setup_byte_3, setup.setup_byte_4, setup.setup_word_1,
                                    setup.setup_word_2, setup.setup_word_3);
}

std::uint8_t deinit_bus() {
  return link::run_packed<kDeInitBus>(nullptr);
}

std::uint8_t interface_enable(std::uint32_t* reply_word) {
  return link::run_packed<kInterfaceEnable>(reply_word);
}

std::uint8_t interface_disable(std::uint32_t* reply_word) {
  return link::run_packed<kInterfaceDisable>(reply_word);
}

std::uint8_t bus_count(std::uint8_t* count) {
  return link::run_packed<kBusCount>(count);
}

std::uint8_t bus_open(std::uint32_t* reply_word, std::uint16_t bus, std::uint8_t option) {
  return link::run_packed<kBusOpen>(reply_word, bus, option);
}

std::uint8_t bus_close(std::uint32_t* reply_word, std::uint16_t bus) {
  return link::run_packed<kBusClose>(reply_word, bus);
}

std::uint8_t bus_on(std::uint32_t* reply_word, std::uint16_t bus) {
  return link::run_packed<kBusOn>(reply_word, bus);
}

std::uint8_t bus_off(std::uint32_t* reply_word, std::uint16_t bus) {
  return link::run_packed<kBusOff>(reply_word, bus);
}

std::uint8_t parameter_set(std::uint32_t* reply_word, std::uint16_t bus,
                           std::uint32_t parameter_word, std::uint8_t parameter_1,
                           std::uint8_t parameter_2, std::uint8_t parameter_3,
                           std::uint8_t parameter_4) {
  return link::run_packed<kParameterSet>(reply_word, bus, parameter_word, parameter_1, parameter_2,
                                         parameter_3, parameter_4);
}

std::uint8_t data_parameter_set(std::uint32_t* reply_word, std::uint16_t bus,
                                std::uint32_t parameter_word, std::uint8_t parameter_1,
                                std::uint8_t parameter_2, std::uint8_t parameter_3,
                                std::uint8_t parameter_4) {
  return link::run_packed<kDataParameterSet>(reply_word, bus, parameter_word, parameter_1,
                                             parameter_2, parameter_3, parameter_4);
}

std::uint8_t block_uid_get(std::uint32_t* reply_word, std::uint16_t bus, std::uint8_t option) {
  return link::run_packed<kBlockUidGet>(reply_word, bus, option);
}

}  // namespace maltor::can
