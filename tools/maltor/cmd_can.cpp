// CAN buses, in the manner of the Linux can-utils: can buses, open, close, on,
// off, enable, disable, send, dump.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "call_errors.h"
#include "can_frame.h"
#include "command.h"
#include "command_support.h"
#include "console.h"
#include "device_clock.h"
#include "device_link.h"
#include "errors.h"

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
  const std::uint64_t idle_ms = option_number(args, "--idle", 0xFFFFFFFF, 0);
  const std::optional<std::string> log_path = args.value("--log");
  std::vector<CanFilter> filters;
  while (const std::optional<std::string> filter = args.value("-f")) {
    filters.push_back(parse_can_filter(*filter));
  }
  const auto bus = static_cast<std::uint8_t>(required_number(args, "BUS", 0xFF));
  args.expect_done();
  connect(session);
  const auto receive = MALTOR_FUNCTION(session.library(), CANRx);
  std::optional<OutputFile> log;
  if (log_path) log.emplace("can dump", *log_path);

  const auto passes = [&](std::uint32_t identifier) {
    if (filters.empty()) return true;
    for (const CanFilter& filter : filters) {
      if (filter.passes(identifier)) return true;
    }
    return false;
  };
  std::uint64_t received = 0;
  bool odd_count_reported = false;
  bool idle = false;
  auto last_frame = std::chrono::steady_clock::now();
  while ((count == 0 || received < count) && !interrupted()) {
    if (idle_ms > 0 &&
        std::chrono::steady_clock::now() - last_frame >= std::chrono::milliseconds(idle_ms)) {
      idle = true;
      break;
    }
    MaltorCanMessage message{};
    message.bus = bus;
    message.receive_timeout = kReceiveSliceMs;
    std::uint16_t frames = 0;
    const std::uint8_t result = receive(&frames, &message);
    if (result == MALTOR_ERR_EXCHANGE) continue;  // nothing within the slice
    check_result(result, "receiving on bus " + std::to_string(bus) + " (CANRx)");
    if (frames != 1) {
      if (!odd_count_reported) {
        note(
            "the device answered with a frame count other than 0 or 1; no frame taken (said "
            "once)");
        odd_count_reported = true;
      }
      continue;
    }
    last_frame = std::chrono::steady_clock::now();
    if (!passes(message.identifier)) continue;
    ++received;
    // The library gives no time stamp: the host's time of receipt stands in.
    const std::int64_t now = unix_microseconds_now();
    if (log) {
      log->write(format_candump_log_line(now, message) + "\n");
    } else if (json_out) {
      JsonWriter json;
      json.begin_object().key("time").value(iso8601_utc(now)).key("time_us").value(now);
      json.key("bus").value(unsigned{message.bus});
      json.key("id").value(std::uint64_t{message.identifier});
      json.key("id_hex").value(format_can_identifier(message.identifier));
      json.key("attribute").value(unsigned{message.attribute});
      json.key("data").value(hex_string(can_data(message)));
      json.key("returned_word").value(std::uint64_t{message.returned_word}).end_object();
      print_json(json);
    } else {
      std::printf("%s\n", format_can_dump_line(now, message).c_str());
    }
    std::fflush(stdout);
  }
  if (log) {
    log->close();
    if (json_out) {
      JsonWriter json;
      json.begin_object().key("log").value(*log_path).key("frames").value(received);
      json.key("idle_timeout").value(idle).end_object();
      print_json(json);
    } else {
      std::printf("%llu frame%s logged to %s\n", static_cast<unsigned long long>(received),
                  received == 1 ? "" : "s", log_path->c_str());
    }
  }
  if (idle) note("no frame for " + std::to_string(idle_ms) + " ms; dump ended");
  return interrupted() ? interrupt_exit_code() : kExitOk;
}

// ---- setup ----

// Comma-separated numbers: "1,2,3,4,100,200,300" for InitBus's record.
MaltorBusSetup parse_bus_setup(const std::string& text) {
  std::vector<std::uint64_t> fields;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    const std::string field = text.substr(from, comma - from);
    fields.push_back(parse_number(field, fields.size() < 4 ? 0xFF : 0xFFFFFFFF, "--init"));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  if (fields.size() != 7) {
    throw usage_error("can setup: --init takes 7 numbers: B1,B2,B3,B4,W1,W2,W3");
  }
  MaltorBusSetup setup{};
  setup.setup_byte_1 = static_cast<std::uint8_t>(fields[0]);
  setup.setup_byte_2 = static_cast<std::uint8_t>(fields[1]);
  setup.setup_byte_3 = static_cast<std::uint8_t>(fields[2]);
  setup.setup_byte_4 = static_cast<std::uint8_t>(fields[3]);
  setup.setup_word_1 = static_cast<std::uint32_t>(fields[4]);
  setup.setup_word_2 = static_cast<std::uint32_t>(fields[5]);
  setup.setup_word_3 = static_cast<std::uint32_t>(fields[6]);
  return setup;
}

// One parameter set: the bit rate goes as the parameter word, the segment
// lengths, jump width and sample count as parameter bytes 1 to 4.
struct BitTiming {
  std::uint32_t bitrate = 0;
  std::uint8_t tseg1 = 0;
  std::uint8_t tseg2 = 0;
  std::uint8_t sjw = 1;
  std::uint8_t samples = 1;
};

// The set named by options with `prefix` ("--" or "--data-"); none when no
// option of the set is given.
std::optional<BitTiming> bit_timing_options(ArgList& args, const std::string& prefix) {
  const auto field = [&](const char* name, std::uint64_t max) {
    const std::optional<std::string> text = args.value(prefix + name);
    return text ? std::optional(parse_number(*text, max, prefix + name)) : std::nullopt;
  };
  const auto bitrate = field("bitrate", 0xFFFFFFFF);
  const auto tseg1 = field("tseg1", 0xFF), tseg2 = field("tseg2", 0xFF);
  const auto sjw = field("sjw", 0xFF), samples = field("samples", 0xFF);
  if (!bitrate && !tseg1 && !tseg2 && !sjw && !samples) return std::nullopt;
  if (!bitrate || !tseg1 || !tseg2) {
    throw usage_error("can setup: " + prefix + "bitrate, " + prefix + "tseg1 and " + prefix +
                      "tseg2 go together");
  }
  BitTiming timing;
  timing.bitrate = static_cast<std::uint32_t>(*bitrate);
  timing.tseg1 = static_cast<std::uint8_t>(*tseg1);
  timing.tseg2 = static_cast<std::uint8_t>(*tseg2);
  if (sjw) timing.sjw = static_cast<std::uint8_t>(*sjw);
  if (samples) timing.samples = static_cast<std::uint8_t>(*samples);
  return timing;
}

void json_timing(JsonWriter& json, const char* name, const BitTiming& timing,
                 std::uint32_t reply_word) {
  json.key(name).begin_object().key("bitrate").value(std::uint64_t{timing.bitrate});
  json.key("tseg1").value(unsigned{timing.tseg1}).key("tseg2").value(unsigned{timing.tseg2});
  json.key("sjw").value(unsigned{timing.sjw}).key("samples").value(unsigned{timing.samples});
  json.key("reply_word").value(std::uint64_t{reply_word}).end_object();
}

int can_setup(Session& session, ArgList& args, bool json_out) {
  const std::optional<std::string> init = args.value("--init");
  const std::optional<MaltorBusSetup> setup =
      init ? std::optional(parse_bus_setup(*init)) : std::nullopt;
  const std::optional<BitTiming> nominal = bit_timing_options(args, "--");
  const std::optional<BitTiming> data = bit_timing_options(args, "--data-");
  const auto bus = static_cast<std::uint16_t>(required_number(args, "BUS", 0xFFFF));
  args.expect_done();
  if (!setup && !nominal && !data) {
    throw usage_error(
        "can setup: nothing to set (give --bitrate ..., --data-bitrate ... or --init)");
  }
  connect(session);
  const Library& library = session.library();
  const std::string on_bus = " on bus " + std::to_string(bus);
  if (setup) check_result(MALTOR_FUNCTION(library, InitBus)(*setup), "bus set-up (InitBus)");
  std::uint32_t nominal_word = 0, data_word = 0;
  if (nominal) {
    check_result(MALTOR_FUNCTION(library, CANParameterSet)(&nominal_word, bus, nominal->bitrate,
                                                           nominal->tseg1, nominal->tseg2,
                                                           nominal->sjw, nominal->samples),
                 "loading the bit timing" + on_bus + " (CANParameterSet)");
  }
  if (data) {
    check_result(
        MALTOR_FUNCTION(library, CANDataParameterSet)(&data_word, bus, data->bitrate, data->tseg1,
                                                      data->tseg2, data->sjw, data->samples),
        "loading the data-phase bit timing" + on_bus + " (CANDataParameterSet)");
  }
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("bus").value(unsigned{bus}).key("init").value(setup.has_value());
    if (nominal) json_timing(json, "nominal", *nominal, nominal_word);
    if (data) json_timing(json, "data", *data, data_word);
    json.end_object();
    print_json(json);
    return kExitOk;
  }
  if (setup) std::printf("bus set-up sent (InitBus)\n");
  if (nominal) {
    std::printf(
        "bus %u bit timing %u bit/s (tseg1 %u, tseg2 %u, sjw %u, samples %u): reply word %s\n", bus,
        nominal->bitrate, nominal->tseg1, nominal->tseg2, nominal->sjw, nominal->samples,
        hex(nominal_word, 8).c_str());
  }
  if (data) {
    std::printf(
        "bus %u data-phase bit timing %u bit/s (tseg1 %u, tseg2 %u, sjw %u, samples %u): reply "
        "word %s\n",
        bus, data->bitrate, data->tseg1, data->tseg2, data->sjw, data->samples,
        hex(data_word, 8).c_str());
  }
  return kExitOk;
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
  if (action == "setup") return can_setup(session, args, json_out);
  throw usage_error("can: unknown action '" + action + "' (see maltor can --help)");
}

constexpr Command kCommands[] = {
    {"can", "CAN buses: buses, open, close, on, off, setup, send, dump",
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
     "  can dump BUS [--count N] [--idle MS] [-f ID:MASK ...] [--log FILE]\n"
     "                              print each frame received (CANRx) until Ctrl-C, N\n"
     "                              frames or MS milliseconds without a frame: the\n"
     "                              host's time of receipt, the bus, ID, [length], data\n"
     "                              bytes, attribute and returned word. -f keeps frames\n"
     "                              whose ID matches ID in MASK's bits (hex; several -f:\n"
     "                              any of them). --log writes FILE in candump's log\n"
     "                              format, \"(seconds.micro) canBUS ID#DATA\", which\n"
     "                              canplayer and python-can read.\n"
     "  can setup BUS [--bitrate N --tseg1 N --tseg2 N [--sjw N] [--samples N]]\n"
     "                [--data-bitrate N --data-tseg1 N --data-tseg2 N [--data-sjw N]\n"
     "                 [--data-samples N]] [--init B1,B2,B3,B4,W1,W2,W3]\n"
     "                              set a bus up: --init sends the bus set-up record\n"
     "                              first (InitBus: four bytes, three 32-bit words);\n"
     "                              the bit timing goes to CANParameterSet, the\n"
     "                              data-phase timing to CANDataParameterSet: the bit\n"
     "                              rate as the parameter word, tseg1, tseg2, sjw\n"
     "                              (default 1) and samples (default 1) as parameter\n"
     "                              bytes 1 to 4, which the device interprets. Prints\n"
     "                              each reply word.\n"
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
