// Configurations: the gateway's (sent from memory) and the data processor's
// configuration file (sent and read back).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "call_errors.h"
#include "command.h"
#include "command_support.h"
#include "device_link.h"
#include "errors.h"
#include "loader.h"
#include "output.h"
#include "watched_transfer.h"

namespace maltor::tool {

namespace {

namespace fs = std::filesystem;

// More blocks of 16,378 bytes than a 16-bit count holds; the library refuses it.
constexpr std::uint64_t kGatewayConfigLimit = 65536ull * 16378;
// The library's buffer for a data-processor configuration file.
constexpr std::uint64_t kConfigFileLimit = 524288;

std::vector<std::uint8_t> read_whole_file(const std::string& command, const std::string& path,
                                          std::uint64_t size) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  std::ifstream in(path, std::ios::binary);
  if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    throw ToolError(kExitFailed, command + ": cannot read " + path);
  }
  return bytes;
}

// The library appends its account to logs/Configuration.log beside the
// running program when that folder exists; it never creates the folder.
std::string configuration_log_note() {
  const std::string folder = loader::executable_folder();
  if (folder.empty()) return "";
  const fs::path logs = fs::path(folder) / "logs";
  std::error_code error;
  if (fs::is_directory(logs, error)) {
    return "; account appended to " + (logs / "Configuration.log").string();
  }
  return "; no account kept (" + logs.string() + " does not exist)";
}

int run_gateway_config(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::string path = args.required("FILE");
  args.expect_done();
  const std::uint64_t size = input_file_size("gateway-config", path);
  if (size >= kGatewayConfigLimit) {
    throw usage_error("gateway-config: " + path + " holds " + std::to_string(size) +
                      " bytes; a configuration is below " + std::to_string(kGatewayConfigLimit));
  }
  const std::vector<std::uint8_t> data = read_whole_file("gateway-config", path, size);

  connect(session);
  // Synchronous: no progress is reported and the transfer cannot be stopped.
  check_result(MALTOR_FUNCTION(session.library(), SendTaloqConfiguration)(
                   nullptr, static_cast<std::uint32_t>(size), data.data()),
               "sending the gateway configuration (SendTaloqConfiguration)");
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("file").value(path).key("bytes").value(size).end_object();
    print_json(json);
  } else {
    std::printf("gateway configuration sent: %llu bytes from %s%s\n",
                static_cast<unsigned long long>(size), path.c_str(),
                configuration_log_note().c_str());
  }
  return kExitOk;
}

// ---- config send / get ----

int config_send(Session& session, ArgList& args, bool json_out) {
  const std::string path = args.required("FILE");
  args.expect_done();
  const std::uint64_t size = input_file_size("config send", path);
  if (size == 0) throw usage_error("config send: " + path + " is empty");
  if (size > kConfigFileLimit) {
    throw usage_error("config send: " + path + " holds " + std::to_string(size) +
                      " bytes; a configuration file is at most " +
                      std::to_string(kConfigFileLimit));
  }

  connect(session);
  // The word is written once the end frame went out. A failed call may leave
  // it untouched, so the value it starts with marks "no word"; a device that
  // answers 0xFFFF after a failed reply is the one case taken for none.
  constexpr std::uint16_t kNoWord = 0xFFFF;
  std::uint16_t status = kNoWord;
  const std::uint8_t result =
      MALTOR_FUNCTION(session.library(), SCReconfigureFile)(path.c_str(), &status);
  const bool have_word = result == MALTOR_OK || status != kNoWord;
  const std::string word = have_word ? hex(status, 4) : "none";
  check_result(result, "sending the configuration " + path +
                           " (SCReconfigureFile; device status word " + word + ")");
  // The device answers 0 when it took the file; another word is its refusal
  // (a wrong sum, a frame out of order, a file too large for it), which the
  // library does not look at. In JSON the refusal is the command's one document.
  const ToolError refusal(kExitFailed,
                          "config send: the device did not take the configuration "
                          "(status word " +
                              word + ", not 0)");
  if (json_out && status != 0) throw refusal;
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("file").value(path).key("bytes").value(size);
    json.key("status_word").value(unsigned{status}).end_object();
    print_json(json);
  } else {
    std::printf("configuration sent: %llu bytes from %s; device status word %s\n",
                static_cast<unsigned long long>(size), path.c_str(), word.c_str());
  }
  if (status != 0) throw refusal;
  return kExitOk;
}

int config_get(Session& session, ArgList& args, bool json_out) {
  const std::string path = args.required("FILE");
  args.expect_done();
  check_destination("config get", path);

  connect(session);
  const Library& library = session.library();
  // The device's own count of its configuration, to judge the download by.
  std::uint8_t tag[16] = {};
  std::uint32_t expected = 0;
  check_result(MALTOR_FUNCTION(library, SCUSBGetConfigInfo)(tag, &expected),
               "reading the configuration's size (SCUSBGetConfigInfo)");
  if (expected == 0) {
    throw ToolError(kExitFailed, "config get: the device holds no configuration; " + path +
                                     " is left as it was");
  }
  // The library replaces the file only once the device reported a size:
  // removed here first, an old file is never taken for the download.
  std::error_code error;
  fs::remove(path, error);
  const std::uint8_t result = MALTOR_FUNCTION(library, SCConfigFileData)(path.c_str());
  const std::string what = "reading the configuration (SCConfigFileData)";
  // MALTOR_ERR_EXCHANGE comes after a complete download too: the detail and
  // the file tell.
  if (result == MALTOR_ERR_EXCHANGE) {
    if (const auto detail = last_error_for(result);
        detail && detail->kind != MALTOR_DETAIL_DEVICE) {
      check_file_result(result, what, path);
    }
  } else {
    check_file_result(result, what, path);
  }
  const std::uint64_t written = check_file_holds("config get", path, expected);
  if (written != expected) {
    throw ToolError(kExitFailed, "config get: " + path + " holds " + group_digits(written) +
                                     " bytes, but the device reported " + group_digits(expected));
  }
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("file").value(path).key("bytes").value(std::uint64_t{expected});
    json.key("tag").value(hex_string(tag));
    if (const auto text = printable_text(tag)) json.key("tag_text").value(*text);
    json.end_object();
    print_json(json);
  } else {
    std::printf("configuration read: %u bytes into %s (tag %s)\n", expected, path.c_str(),
                describe_block(tag).c_str());
  }
  return kExitOk;
}

int run_config(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::string action = args.required("ACTION");
  if (action == "send") return config_send(session, args, json_out);
  if (action == "get") return config_get(session, args, json_out);
  throw usage_error("config: unknown action '" + action + "' (see maltor config --help)");
}

constexpr Command kCommands[] = {
    {"gateway-config", "send a configuration image to the gateway",
     "maltor [global options] gateway-config FILE [--json]\n"
     "\n"
     "Sends the whole of FILE to the gateway as its configuration\n"
     "(SendTaloqConfiguration), in blocks of 16378 bytes after an announce frame.\n"
     "The call reports no progress and cannot be stopped. The library appends an\n"
     "account of each transfer to logs/Configuration.log in the folder that holds\n"
     "maltor, when that folder exists (it is not created); maltor says which.\n",
     run_gateway_config},
    {"config", "send or read back the data processor's configuration file",
     "maltor [global options] config send|get FILE [--json]\n"
     "\n"
     "  config send FILE   send FILE (1 to 524288 bytes) as the configuration\n"
     "                     (SCReconfigureFile) and print the device's status word;\n"
     "                     a word other than 0 means the device did not take it\n"
     "  config get FILE    read the configuration back into FILE (SCConfigFileData),\n"
     "                     replacing it. The library's result says nothing here, so\n"
     "                     FILE is checked against the size the device reports\n"
     "                     (SCUSBGetConfigInfo); the configuration's tag is shown.\n",
     run_config},
};

}  // namespace

std::span<const Command> config_commands() {
  return kCommands;
}

}  // namespace maltor::tool
