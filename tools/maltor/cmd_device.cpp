// Device information and settings: info, clock, settings, firmware-version.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "call_errors.h"
#include "command.h"
#include "command_support.h"
#include "device_clock.h"
#include "device_link.h"
#include "errors.h"
#include "output.h"

namespace maltor::tool {

namespace {

constexpr std::size_t kSerialBytes = 128;
constexpr std::size_t kSettingsBytes = 128;
constexpr std::size_t kVersionTextBytes = 14;
constexpr std::size_t kCardInfoBytes = 17;
constexpr std::size_t kConfigTagBytes = 16;

void json_block(JsonWriter& json, std::string_view name, std::span<const std::uint8_t> bytes) {
  json.key(name).value(hex_string(bytes));
  if (const auto text = printable_text(bytes)) json.key(std::string(name) + "_text").value(*text);
}

// ---- info ----

int run_info(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const bool raw = args.flag("--raw");
  args.expect_done();
  connect(session);
  const Library& library = session.library();

  // Each value is read on its own, so that one refused query does not hide the others.
  std::vector<std::string> failures;
  const auto read = [&](std::uint8_t code, const char* call) {
    try {
      check_result(code, call);
      return true;
    } catch (const ToolError& error) {
      failures.push_back(error.what());
      return false;
    }
  };
  std::vector<std::pair<std::string, std::string>> lines;
  JsonWriter json;
  json.begin_object();
  std::string dumps;

  std::uint16_t word = 0;
  std::uint8_t v1 = 0, v2 = 0, v3 = 0;
  if (read(MALTOR_FUNCTION(library, SCGetFirmwareVersion)(&word, &v1, &v2, &v3),
           "SCGetFirmwareVersion")) {
    char text[64];
    std::snprintf(text, sizeof text, "word %s, bytes %u %u %u", hex(word, 4).c_str(), v1, v2, v3);
    lines.emplace_back("firmware version", text);
    json.key("firmware_version").begin_object().key("word").value(unsigned{word});
    json.key("bytes").begin_array().value(unsigned{v1}).value(unsigned{v2}).value(unsigned{v3});
    json.end_array().end_object();
  }

  std::uint8_t version_text[kVersionTextBytes] = {};
  if (read(MALTOR_FUNCTION(library, GetFirmwareVersion)(reinterpret_cast<char*>(version_text)),
           "GetFirmwareVersion")) {
    lines.emplace_back("firmware text", describe_block(version_text));
    json_block(json, "firmware_text", version_text);
  }

  std::uint8_t serial[kSerialBytes] = {};
  if (read(MALTOR_FUNCTION(library, SCGetSerialNumber)(serial), "SCGetSerialNumber")) {
    lines.emplace_back("serial number", describe_block(serial));
    json_block(json, "serial_number", serial);
    if (raw) dumps += "serial-number block:\n" + hex_dump(serial);
  }

  std::uint8_t micro_type = 0;
  if (read(MALTOR_FUNCTION(library, GetMicroType)(&micro_type), "GetMicroType")) {
    lines.emplace_back("micro type", hex(micro_type, 2));
    json.key("micro_type").value(unsigned{micro_type});
  }

  std::uint8_t info_byte = 0;
  std::uint32_t info_value = 0;
  if (read(MALTOR_FUNCTION(library, GetMaltorInfo)(&info_byte, &info_value), "GetMaltorInfo")) {
    lines.emplace_back("maltor info", "byte " + hex(info_byte, 2) + ", value " +
                                          std::to_string(info_value) + " (" + hex(info_value, 2) +
                                          ")");
    json.key("maltor_info").begin_object().key("byte").value(unsigned{info_byte});
    json.key("value").value(std::uint64_t{info_value}).end_object();
  }

  std::uint8_t card[kCardInfoBytes] = {};
  if (read(MALTOR_FUNCTION(library, SCGetMMCInfo)(card), "SCGetMMCInfo")) {
    lines.emplace_back("card info", hex_string(card));
    json.key("card_info").value(hex_string(card));
    if (raw) dumps += "card information record:\n" + hex_dump(card);
  }

  std::uint8_t tag[kConfigTagBytes] = {};
  std::uint32_t config_size = 0;
  if (read(MALTOR_FUNCTION(library, SCUSBGetConfigInfo)(tag, &config_size), "SCUSBGetConfigInfo")) {
    lines.emplace_back("config tag", describe_block(tag));
    lines.emplace_back("config size", std::to_string(config_size) + " bytes");
    json.key("configuration").begin_object();
    json_block(json, "tag", tag);
    json.key("size").value(std::uint64_t{config_size}).end_object();
    if (raw) dumps += "configuration tag:\n" + hex_dump(tag);
  }

  if (json_out) {
    // One document either way: the failed queries are in it.
    json.key("errors").begin_array();
    for (const std::string& failure : failures) json.value(failure);
    json.end_array().end_object();
    print_json(json);
    return failures.empty() ? kExitOk : kExitFailed;
  } else {
    for (const auto& [label, value] : lines) std::printf("%-18s%s\n", label.c_str(), value.c_str());
    std::printf("%s", dumps.c_str());
  }
  if (failures.empty()) return kExitOk;
  std::string message = "info: " + std::to_string(failures.size()) + " of 7 queries failed";
  for (const std::string& failure : failures) message += "\n  " + failure;
  throw ToolError(kExitFailed, message);
}

// ---- clock ----

std::int64_t host_unix_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int clock_read(Session& session, bool json_out) {
  connect(session);
  std::uint32_t value = 0;
  check_result(MALTOR_FUNCTION(session.library(), SCGetDateTime)(&value),
               "reading the clock (SCGetDateTime)");
  const std::int64_t host = host_unix_seconds();
  const std::int64_t ahead = static_cast<std::int64_t>(value) - host;
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("clock").value(std::uint64_t{value});
    json.key("utc").value(iso8601_utc(std::int64_t{value} * 1000000));
    json.key("host_utc").value(iso8601_utc(host * 1000000));
    json.key("ahead_of_host_seconds").value(ahead).end_object();
    print_json(json);
    return kExitOk;
  }
  std::printf("device clock  %u (%s)\n", value, hex(value, 8).c_str());
  std::printf("as UTC        %s (seconds since 1970-01-01 UTC)\n",
              format_clock_value(value).c_str());
  const std::string host_text = host >= 0 && host <= 0xFFFFFFFF
                                    ? format_clock_value(static_cast<std::uint32_t>(host))
                                    : std::to_string(host) + " s";
  std::printf("host clock    %s", host_text.c_str());
  if (ahead == 0) {
    std::printf(" (the same second)\n");
  } else {
    std::printf(" (the device is %lld s %s)\n", static_cast<long long>(ahead < 0 ? -ahead : ahead),
                ahead < 0 ? "behind" : "ahead");
  }
  return kExitOk;
}

int clock_set(Session& session, ArgList& args, bool json_out) {
  const bool now = args.flag("--now");
  const std::optional<std::string> text = args.positional();
  args.expect_done();
  if (now == text.has_value()) throw usage_error("clock set: give either VALUE or --now");
  const std::uint32_t value =
      now ? clock_value_from_unix(host_unix_seconds()) : parse_clock_value(*text);
  connect(session);
  check_result(MALTOR_FUNCTION(session.library(), SCSetDateTime)(value),
               "setting the clock (SCSetDateTime)");
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("clock").value(std::uint64_t{value});
    json.key("utc").value(iso8601_utc(std::int64_t{value} * 1000000)).end_object();
    print_json(json);
  } else {
    std::printf("device clock set to %u (%s)\n", value, format_clock_value(value).c_str());
  }
  return kExitOk;
}

int run_clock(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::optional<std::string> action = args.positional();
  if (!action) {
    args.expect_done();
    return clock_read(session, json_out);
  }
  if (*action == "set") return clock_set(session, args, json_out);
  throw usage_error("clock: unknown action '" + *action + "' (see maltor clock --help)");
}

// ---- settings ----

int settings_block(Session& session, bool json_out) {
  connect(session);
  std::uint8_t block[kSettingsBytes] = {};
  check_result(MALTOR_FUNCTION(session.library(), SCGetHWSettings)(block),
               "reading the hardware settings (SCGetHWSettings)");
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("settings").value(hex_string(block)).end_object();
    print_json(json);
  } else {
    std::printf("%s", hex_dump(block).c_str());
  }
  return kExitOk;
}

void print_setting(bool json_out, unsigned number, unsigned value) {
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("setting").value(number).key("value").value(value).end_object();
    print_json(json);
  } else {
    std::printf("setting %u = %u (%s)\n", number, value, hex(value, 4).c_str());
  }
}

int run_settings(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::optional<std::string> action = args.positional();
  if (!action) {
    args.expect_done();
    return settings_block(session, json_out);
  }
  if (*action == "get") {
    const auto number = static_cast<std::uint16_t>(required_number(args, "N", 0xFFFF));
    args.expect_done();
    connect(session);
    std::uint16_t value = 0;
    check_result(MALTOR_FUNCTION(session.library(), GetSingleHWSetting)(number, &value),
                 "reading setting " + std::to_string(number) + " (GetSingleHWSetting)");
    print_setting(json_out, number, value);
    return kExitOk;
  }
  if (*action == "set") {
    const auto number = static_cast<std::uint16_t>(required_number(args, "N", 0xFFFF));
    const auto value = static_cast<std::uint16_t>(required_number(args, "VALUE", 0xFFFF));
    args.expect_done();
    connect(session);
    check_result(MALTOR_FUNCTION(session.library(), SetSingleHWSetting)(number, value),
                 "setting " + std::to_string(number) + " (SetSingleHWSetting)");
    print_setting(json_out, number, value);
    return kExitOk;
  }
  throw usage_error("settings: unknown action '" + *action + "' (see maltor settings --help)");
}

// ---- firmware-version ----

// Why the library found no version in `path`; it reports only that it did not.
std::string no_version_reason(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::exists(path, error)) return "no such file";
  if (!fs::is_regular_file(path, error)) return "not a regular file";
  const std::uintmax_t size = fs::file_size(path, error);
  // The version's first part lies at byte 16,368.
  if (!error && size < 16369) {
    return "the file holds " + std::to_string(size) +
           " bytes, too few for a firmware image (the version lies at byte 16368)";
  }
  return "the file cannot be opened for reading and writing (the library opens it for update)";
}

int run_firmware_version(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::string path = args.required("FILE");
  args.expect_done();
  // Byte 12 is left as it is by the library; zero keeps the text terminated there.
  char text[kVersionTextBytes] = {};
  if (MALTOR_FUNCTION(session.library(), GetFileNameFirmwareVersion)(path.c_str(), text) != 1) {
    throw ToolError(kExitFailed,
                    "no firmware version read from " + path + ": " + no_version_reason(path));
  }
  std::string version(text, strnlen(text, sizeof text));
  for (char& c : version) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
  }
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("file").value(path).key("version").value(version).end_object();
    print_json(json);
  } else {
    std::printf("%s\n", version.c_str());
  }
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"info", "firmware versions, serial number and the other identity values",
     "maltor [global options] info [--raw] [--json]\n"
     "\n"
     "Reads what identifies the device, one query each:\n"
     "  firmware version  SCGetFirmwareVersion: the version word and three bytes\n"
     "  firmware text     GetFirmwareVersion (5 characters on kind-1 devices)\n"
     "  serial number     SCGetSerialNumber: the 128-byte block, as text when it is\n"
     "  micro type        GetMicroType\n"
     "  maltor info       GetMaltorInfo: the info byte and value\n"
     "  card info         SCGetMMCInfo: the 17-byte memory-card record\n"
     "  config tag, size  SCUSBGetConfigInfo\n"
     "The values are shown as the device gives them. A query that fails is named on\n"
     "stderr, the others are still shown, and the exit code is 1.\n"
     "\n"
     "  --raw     also dump the serial-number block, card record and tag\n"
     "  --json    one JSON object (failed queries under \"errors\")\n",
     run_info},
    {"clock", "read or set the device clock",
     "maltor [global options] clock [--json]\n"
     "       maltor [global options] clock set VALUE\n"
     "       maltor [global options] clock set --now\n"
     "\n"
     "Reads the device clock (SCGetDateTime) and compares it with the host's, or\n"
     "sets it (SCSetDateTime). The library passes the 32-bit value through; maltor\n"
     "reads it as Unix time, whole seconds since 1970-01-01 00:00:00 UTC (good\n"
     "until 2106), and --now sets the host's current time that way.\n"
     "\n"
     "  VALUE    the raw value (decimal or 0x...) or a UTC time such as\n"
     "           2024-10-04T14:47:28 (a blank may replace the T; a final Z is allowed)\n"
     "  --now    the host's current time\n",
     run_clock},
    {"settings", "read the hardware settings, or get and set one setting",
     "maltor [global options] settings [--json]\n"
     "       maltor [global options] settings get N\n"
     "       maltor [global options] settings set N VALUE\n"
     "\n"
     "Without an action, reads the 128-byte hardware settings block\n"
     "(SCGetHWSettings) and shows it in hex. 'get' reads setting N\n"
     "(GetSingleHWSetting); 'set' writes VALUE to it (SetSingleHWSetting). N and\n"
     "VALUE are 16-bit numbers, decimal or 0x...; the device gives them their\n"
     "meaning.\n",
     run_settings},
    {"firmware-version", "read the version text of a firmware image file",
     "maltor [global options] firmware-version FILE [--json]\n"
     "\n"
     "Reads the version text of the firmware image FILE (GetFileNameFirmwareVersion):\n"
     "five characters from byte 16368, '_', and six from byte 524280. Needs no\n"
     "device, but the library opens the file for update, so it must be writable.\n",
     run_firmware_version},
};

}  // namespace

std::span<const Command> device_commands() {
  return kCommands;
}

}  // namespace maltor::tool
