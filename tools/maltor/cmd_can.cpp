// CAN buses, in the manner of the Linux can-utils: can buses, open, close, on,
// off, enable, disable, send, dump.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "can_frame.h"
#include "command.h"
#include "command_support.h"
#include "console.h"
#include "device_link.h"
#include "errors.h"
#include "call_errors.h"

namespace maltor::tool {

namespace {

// The library sends every frame with this identifier, whatever the record held.
constexpr std::uint32_t kSentIdentifier = 0x7E0;
// Each receive call polls this long, so that Ctrl-C is seen within about as much.
constexpr std::uint32_t kReceiveSliceMs = 100;

void print_reply_word(bool json_out, const char* action, std::optional<unsigned> bus,
                      std::uint32_t word) {
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("action").value(action);
    if (bus) json.key("bus").value(*bus);
    json.key("reply_word").value(std::uint64_t{word}).end_object();
    print_json(json);
  } else if (bus) {
    std::printf("bus %u %s: reply word %s\n", *bus, action, hex(word, 8).c_str());
  } else {
    std::printf("interface %s: reply word %s\n", action, hex(word, 8).c_str());
  }
}

int can_buses(Session& session, ArgList& args, bool json_out) {
  args.expect_done();
  connect(session);
  std::uint8_t count = 0;
  check_result(MALTOR_FUNCTION(session.library(), CANBusCount)(&count),
               "counting the CAN buses (CANBusCount)");
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("buses").value(unsigned{count}).end_object();
    print_json(json);
  } else if (count == 0) {
    std::printf("no CAN buses\n");
  } else {
    std::printf("%u CAN bus%s: 0-%u\n", count, count == 1 ? "" : "es", count - 1u);
  }
  return kExitOk;
}

// open, close, on, off: one bus, one reply word.
int can_bus_action(Session& session, ArgList& args, bool json_out, const std::string& action) {
  const auto option =
      static_cast<std::uint8_t>(action == "open" ? option_number(args, "--option", 0xFF, 0) : 0);
  const auto bus = static_cast<std::uint16_t>(required_number(args, "BUS", 0xFFFF));
  args.expect_done();
  connect(session);
  const Library& library = session.library();
  std::uint32_t word = 0;
  std::uint8_t result = MALTOR_OK;
  std::string call;
  if (action == "open") {
    result = MALTOR_FUNCTION(library, CANBusOpen)(&word, bus, option);
    call = "CANBusOpen";
  } else if (action == "close") {
    result = MALTOR_FUNCTION(library, CANBusClose)(&word, bus);
    call = "CANBusClose";
  } else if (action == "on") {
    result = MALTOR_FUNCTION(library, CANBusOn)(&word, bus);
    call = "CANBusOn";
  } else {
    result = MALTOR_FUNCTION(library, CANBusOff)(&word, bus);
    call = "CANBusOff";
  }
  check_result(result, "bus " + std::to_string(bus) + " " + action + " (" + call + ")");
  print_reply_word(json_out, action.c_str(), bus, word);
  return kExitOk;
}

int can_interface(Session& session, ArgList& args, bool json_out, bool enable) {
  args.expect_done();
  connect(session);
  std::uint32_t word = 0;
  const Library& library = session.library();
  if (enable) {
    check_result(MALTOR_FUNCTION(library, CANInterfaceEnable)(&word),
                 "enabling the CAN interface (CANInterfaceEnable)");
  } else {
    check_result(MALTOR_FUNCTION(library, CANInterfaceDisable)(&word),
                 "disabling the CAN interface (CANInterfaceDisable)");
  }
  print_reply_word(json_out, enable ? "enable" : "disable", std::nullopt, word);
  return kExitOk;
}

int can_send(Session& session, ArgList& args, bool json_out) {
  const auto attribute = static_cast<std::uint8_t>(option_number(args, "--attr", 0xFF, 0));
  const auto bus = static_cast<std::uint8_t>(required_number(args, "BUS", 0xFF));
  const CanFrameText frame = parse_can_frame(args.required("ID#DATA"));
  args.expect_done();
  if (frame.identifier != kSentIdentifier) {
    std::fprintf(stderr,
                 "maltor: note: the library always sends identifier %s: the frame goes out as "
                 "%s, not %s\n",
                 format_can_identifier(kSentIdentifier).c_str(),
                 format_can_frame(kSentIdentifier, frame.data).c_str(),
                 format_can_frame(frame.identifier, frame.data).c_str());
  }
  connect(session);
  MaltorCanMessage message{};
  message.bus = bus;
  message.attribute = attribute;
  message.length = static_cast<std::uint8_t>(frame.data.size());
  message.identifier = frame.identifier;
  if (!frame.data.empty()) std::memcpy(message.data, frame.data.data(), frame.data.size());
  check_result(MALTOR_FUNCTION(session.library(), CANTx)(&message),
               "sending on bus " + std::to_string(bus) + " (CANTx)");
  // The record now holds what went out and the device's returned word.
  const std::string sent = format_can_frame(message.identifier, can_data(message));
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("bus").value(unsigned{bus}).key("sent").value(sent);
    json.key("returned_word").value(std::uint64_t{message.returned_word}).end_object();
    print_json(json);
  } else {
    std::printf("bus %u: sent %s, returned word %s\n", bus, sent.c_str(),
                hex(message.returned_word, 8).c_str());
  }
  return kExitOk;
}

std::int64_t unix_microseconds_now() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int can_dump(Session& session, ArgList& args, bool json_out) {
  const std::uint64_t count = option_number(args, "--count", 0xFFFFFFFF, 0);
  const auto bus = static_cast<std::uint8_t>(required_number(args, "BUS", 0xFF));
  args.expect_done();
  connect(session);
  const auto receive = MALTOR_FUNCTION(session.library(), CANRx);

  std::uint64_t received = 0;
  bool odd_count_reported = false;
  while ((count == 0 || received < count) && !interrupted()) {
    MaltorCanMessage message{};
    message.bus = bus;
    message.receive_timeout = kReceiveSliceMs;
    std::uint16_t frames = 0;
    const std::uint8_t result = receive(&frames, &message);
    if (result == MALTOR_ERR_EXCHANGE) continue;  // nothing within the slice
    check_result(result, "receiving on bus " + std::to_string(bus) + " (CANRx)");
    if (frames != 1) {
      if (!odd_count_reported) {
        std::fprintf(stderr,
                     "maltor: the device answered with a frame count other than 0 or 1; no "
                     "frame taken (said once)\n");
        odd_count_reported = true;
      }
      continue;
    }
    ++received;
    // The library gives no time stamp: the host's time of receipt stands in.
    const std::int64_t now = unix_microseconds_now();
    if (json_out) {
      JsonWriter json;
      json.begin_object().key("time_us").value(now).key("bus").value(unsigned{message.bus});
      json.key("id").value(std::uint64_t{message.identifier});
      json.key("attribute").value(unsigned{message.attribute});
      json.key("data").value(hex_string(can_data(message)));
      json.key("returned_word").value(std::uint64_t{message.returned_word}).end_object();
      print_json(json);
    } else {
      std::printf("%s\n", format_can_dump_line(now, message).c_str());
    }
    std::fflush(stdout);
  }
  return interrupted() ? interrupt_exit_code() : kExitOk;
}

int run_can(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::string action = args.required("ACTION");
  if (action == "buses") return can_buses(session, args, json_out);
  if (action == "open" || action == "close" || action == "on" || action == "off") {
    return can_bus_action(session, args, json_out, action);
  }
  if (action == "enable" || action == "disable") {
    return can_interface(session, args, json_out, action == "enable");
  }
  if (action == "send") return can_send(session, args, json_out);
  if (action == "dump") return can_dump(session, args, json_out);
  throw usage_error("can: unknown action '" + action + "' (see maltor can --help)");
}

constexpr Command kCommands[] = {
    {"can", "CAN buses: buses, open, close, on, off, send, dump",
     "maltor [global options] can ACTION [args] [--json]\n"
     "\n"
     "  can buses                   how many buses the device has (CANBusCount)\n"
     "  can open BUS [--option N]   open a bus (CANBusOpen; N an 8-bit option, default 0)\n"
     "  can close BUS               close a bus (CANBusClose)\n"
     "  can on BUS                  switch a bus on (CANBusOn)\n"
     "  can off BUS                 switch a bus off (CANBusOff)\n"
     "  can enable | disable        switch the whole CAN interface (CANInterfaceEnable,\n"
     "                              CANInterfaceDisable)\n"
     "  can send BUS ID#DATA [--attr N]\n"
     "                              send one frame (CANTx); DATA is 0 to 64 bytes in hex,\n"
     "                              dots allowed between bytes: 123#DEADBEEF, 123#DE.AD,\n"
     "                              123#. N is the 8-bit attribute byte (default 0).\n"
     "                              The library always sends identifier 7E0, whatever ID\n"
     "                              says; maltor notes it when ID differs.\n"
     "  can dump BUS [--count N]    print each frame received (CANRx) until Ctrl-C or N\n"
     "                              frames: the host's time of receipt, the bus, ID,\n"
     "                              [length], data bytes, attribute and returned word\n"
     "\n"
     "Each command prints the device's reply word (or, for send, the returned word)\n"
     "as the device gives it. BUS is a number (0 to 255 for send and dump, whose\n"
     "record holds one byte).\n",
     run_can},
};

}  // namespace

std::span<const Command> can_commands() {
  return kCommands;
}

}  // namespace maltor::tool
