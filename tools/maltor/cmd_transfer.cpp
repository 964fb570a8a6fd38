// Files from the card: download (a sector range) and logfile (a log file of a
// log-section device).
#include <cstdio>
#include <optional>
#include <string>

#include "call_errors.h"
#include "command.h"
#include "command_support.h"
#include "console.h"
#include "device_link.h"
#include "errors.h"
#include "progress.h"
#include "sector_range.h"
#include "watched_transfer.h"

namespace maltor::tool {

namespace {

// What MirelGetFirstLogFile itself returns, given a path; any other code is
// the device's status byte.
constexpr std::uint8_t kLogFileLibraryCodes[] = {MALTOR_ERR_EXCHANGE, MALTOR_ERR_NO_DEVICE,
                                                 MALTOR_ERR_LOG_SUM, MALTOR_ERR_LOG_OPEN};

void json_summary(const std::string& path, std::uint64_t expected, std::uint64_t written,
                  bool stopped) {
  JsonWriter json;
  json.begin_object().key("file").value(path).key("expected_bytes").value(expected);
  json.key("file_bytes").value(written).key("stopped").value(stopped).end_object();
  print_json(json);
}

int run_download(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const auto start = static_cast<std::uint32_t>(required_number(args, "START", 0xFFFFFFFF));
  const auto end = static_cast<std::uint32_t>(required_number(args, "END", 0xFFFFFFFF));
  const std::string path = args.required("FILE");
  args.expect_done();
  const std::uint32_t bytes = sector_range_bytes(start, end);
  check_destination("download", path);

  connect(session);
  const Library& library = session.library();
  const auto get_log_data = MALTOR_FUNCTION(library, GetLogData);
  const auto stop_log_data = MALTOR_FUNCTION(library, StopLogData);

  WatchedTransfer transfer{"download", path, bytes, !json_out, {}, {}};
  // StopLogData is made to be called from a second thread while GetLogData runs.
  transfer.on_interrupt = [&] {
    note("stopping the download (StopLogData)");
    const std::uint8_t stopped = stop_log_data();
    if (stopped != MALTOR_OK) {
      note("StopLogData: " + describe_result(stopped) +
           "; the download goes on (a second signal ends maltor at once)");
    }
  };
  const std::string what =
      "downloading sectors " + std::to_string(start) + "-" + std::to_string(end) + " (GetLogData)";
  transfer.check = [&](std::uint8_t result) { check_file_result(result, what, path); };
  const WatchedOutcome outcome =
      run_watched(transfer, [&] { return get_log_data(path.c_str(), start, end); });
  if (outcome.interrupted) {
    const std::uint64_t written = file_size_or_zero(path);
    if (json_out) json_summary(path, bytes, written, true);
    note("download stopped; " + path + " holds " + format_amount(written, ProgressUnit::kBytes) +
         " of " + format_amount(bytes, ProgressUnit::kBytes));
    return interrupt_exit_code();
  }
  if (outcome.failure) throw *outcome.failure;
  const std::uint64_t written = check_file_holds("download", path, bytes);
  if (json_out) {
    json_summary(path, bytes, written, false);
  } else {
    std::printf("downloaded sectors %u-%u (%u bytes) to %s\n", start, end, bytes, path.c_str());
  }
  return kExitOk;
}

int run_logfile(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const auto section = static_cast<std::uint32_t>(required_number(args, "SECTION", 0xFFFFFFFF));
  const auto length = static_cast<std::uint32_t>(required_number(args, "LENGTH", 0xFFFFFFFF));
  const std::string path = args.required("FILE");
  args.expect_done();
  check_destination("logfile", path);

  connect(session);
  const auto get_log_file = MALTOR_FUNCTION(session.library(), MirelGetFirstLogFile);
  // No on_interrupt: the library offers no way to stop this transfer.
  const std::string what =
      "reading the log file of section " + std::to_string(section) + " (MirelGetFirstLogFile)";
  const WatchedTransfer transfer{"log file", path, length, !json_out, {}, [&](std::uint8_t result) {
                                   check_file_result(result, what, path, kLogFileLibraryCodes);
                                 }};
  const WatchedOutcome outcome =
      run_watched(transfer, [&] { return get_log_file(section, length, path.c_str()); });
  if (outcome.failure) throw *outcome.failure;

  // Line feeds reach the file as CR LF, so the file may be longer than LENGTH, never shorter.
  const std::uint64_t written = check_file_holds("logfile", path, length);
  if (json_out) {
    json_summary(path, length, written, false);
  } else {
    std::printf("log file of section %u: %u bytes received, sums agree; %s holds %llu bytes\n",
                section, length, path.c_str(), static_cast<unsigned long long>(written));
  }
  return outcome.interrupted ? interrupt_exit_code() : kExitOk;
}

constexpr Command kCommands[] = {
    {"download", "download a range of card sectors into a file",
     "maltor [global options] download START END FILE [--json]\n"
     "\n"
     "Downloads sectors START to END (both included, 512 bytes each) into FILE\n"
     "(GetLogData), replacing it, with a progress bar (bytes, rate, time left)\n"
     "taken from the file's growth, on stderr. Ctrl-C (or SIGTERM, SIGHUP) stops the\n"
     "download (StopLogData); FILE keeps what arrived and the exit code is 130\n"
     "(143, 129). At most 8388607 sectors at a time (the library counts bytes in\n"
     "32 bits). When not every byte reached FILE the command fails and says how\n"
     "many did (\"wrote 102,400 of 1,048,576 bytes to FILE: File too large\").\n"
     "\n"
     "  --json    no progress bar; a JSON summary at the end\n",
     run_download},
    {"logfile", "copy a log file of a log-section device into a file",
     "maltor [global options] logfile SECTION LENGTH FILE [--json]\n"
     "\n"
     "Copies LENGTH bytes of the log file of section SECTION into FILE\n"
     "(MirelGetFirstLogFile) and checks them against the device's sum. The library\n"
     "writes the file in text mode: each line feed becomes CR LF, so FILE may be\n"
     "longer than LENGTH. The transfer cannot be stopped once it has begun.\n"
     "A nonzero result may also be the device's own status byte; both are named.\n"
     "\n"
     "  --json    no progress bar; a JSON summary at the end\n",
     run_logfile},
};

}  // namespace

std::span<const Command> transfer_commands() {
  return kCommands;
}

}  // namespace maltor::tool
