// Live data: start it, print or save the records, stop it cleanly.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "call_errors.h"
#include "command.h"
#include "command_support.h"
#include "console.h"
#include "device_link.h"
#include "errors.h"
#include "progress.h"

namespace maltor::tool {

namespace {

// GetLiveData never blocks; between empty answers the tool rests this long
// rather than spin a core.
constexpr auto kIdlePause = std::chrono::milliseconds(1);

// Stops live data when the loop ends, however it ends: a device left sending
// would keep its stream pipe busy for the next program.
class LiveSession {
 public:
  LiveSession(const Library& library, std::uint8_t parameter)
      : stop_(MALTOR_FUNCTION(library, SCUSBStopLiveData)), parameter_(parameter) {
    check_result(MALTOR_FUNCTION(library, SCUSBStartLiveData)(parameter),
                 "starting live data (SCUSBStartLiveData)");
    running_ = true;
  }
  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;
  ~LiveSession() {
    if (running_) stop_(parameter_);
  }

  // Stops the device and drains what it still sends (one to two seconds).
  void stop() {
    running_ = false;
    check_result(stop_(parameter_), "stopping live data (SCUSBStopLiveData)");
  }

 private:
  decltype(&::SCUSBStopLiveData) stop_;
  std::uint8_t parameter_;
  bool running_ = false;
};

int run_live(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const auto parameter = static_cast<std::uint8_t>(option_number(args, "--parameter", 0xFF, 0));
  const std::uint64_t count = option_number(args, "--count", 0xFFFFFFFF, 0);
  const std::optional<std::string> out_path = args.value("--out");
  args.expect_done();

  connect(session);
  const Library& library = session.library();
  const auto get_live_data = MALTOR_FUNCTION(library, GetLiveData);
  std::optional<OutputFile> out;
  if (out_path) out.emplace("live", *out_path);

  LiveSession live(library, parameter);
  // Records go to stdout unless --out takes them; the rate then has stdout to
  // itself, else it is given once at the end on stderr.
  std::optional<ProgressBar> bar;
  if (out && !json_out) bar.emplace("live records", count, ProgressUnit::kItems);
  const auto started = std::chrono::steady_clock::now();
  std::uint64_t received = 0;
  std::uint8_t record[MALTOR_LIVE_RECORD_SIZE];
  while ((count == 0 || received < count) && !interrupted()) {
    const std::uint8_t result = get_live_data(0, record);
    if (result == MALTOR_ERR_EXCHANGE) {  // nothing ready yet
      std::this_thread::sleep_for(kIdlePause);
      continue;
    }
    check_result(result, "reading live data (GetLiveData)");
    ++received;
    if (out) {
      out->write(record, sizeof record);
      if (bar) bar->update(received);
    } else if (json_out) {
      JsonWriter json;
      json.begin_object().key("record").value(received).key("data").value(hex_string(record));
      json.end_object();
      print_json(json);
    } else {
      std::printf("%06llu %s\n", static_cast<unsigned long long>(received),
                  hex_string(record).c_str());
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (bar) bar->finish();
  if (out) out->close();
  std::fflush(stdout);

  char rate[96];
  std::snprintf(rate, sizeof rate, "%llu records in %.1f s (%.1f records/s); stopping live data",
                static_cast<unsigned long long>(received), seconds,
                seconds > 0 ? static_cast<double>(received) / seconds : 0.0);
  note(rate);
  live.stop();
  if (out && json_out) {
    JsonWriter json;
    json.begin_object().key("file").value(*out_path).key("records").value(received);
    json.key("bytes").value(received * MALTOR_LIVE_RECORD_SIZE).end_object();
    print_json(json);
  }
  return interrupted() ? interrupt_exit_code() : kExitOk;
}

constexpr Command kCommands[] = {
    {"live", "show or save live-data records until Ctrl-C or --count",
     "maltor [global options] live [--count N] [--out FILE] [--parameter N] [--json]\n"
     "\n"
     "Starts live data (SCUSBStartLiveData), reads 512-byte records (GetLiveData)\n"
     "and prints each as one line: its number and its bytes in hex. Ends after N\n"
     "records or at Ctrl-C, then stops the device cleanly (SCUSBStopLiveData, which\n"
     "drains for one to two seconds); the record rate is given at the end.\n"
     "\n"
     "  --count N       stop after N records (default: until Ctrl-C)\n"
     "  --out FILE      write the records to FILE as they came, one after another,\n"
     "                  with a progress line (records, rate) instead of hex lines\n"
     "  --parameter N   the 8-bit live-data parameter the device interprets (default 0)\n"
     "  --json          one JSON object per record (JSON Lines); with --out, one\n"
     "                  summary object at the end\n",
     run_live},
};

}  // namespace

std::span<const Command> live_commands() {
  return kCommands;
}

}  // namespace maltor::tool
