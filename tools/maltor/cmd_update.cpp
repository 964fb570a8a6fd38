// Firmware: the logger and gateway updates, which run on the library's own
// update thread, and the data-processor reflash.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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
#include "transfer_frames.h"
#include "update_log.h"
#include "watched_transfer.h"

namespace maltor::tool {

namespace {

// How often the progress log is read and the update thread looked for.
constexpr auto kUpdatePollInterval = std::chrono::milliseconds(50);

// The latest progress value the update thread reported, 0 to 100.
std::atomic<std::uint32_t> g_progress{0};

// Called on the library's update thread after each block the device took.
void MALTOR_CALL record_progress(std::uint32_t progress) {
  g_progress.store(progress);
}

// UpdateFirmware and UpdateLoggerFirmware have the same type.
using StartUpdate = decltype(&::UpdateFirmware);
using StopUpdate = decltype(&::StopFirmwareUpdate);

// Reads what the update appends to its progress log, from where the log
// ended before the start.
class LogFollower {
 public:
  LogFollower(std::string path, std::uint64_t offset) : path_(std::move(path)), offset_(offset) {}

  const UpdateLogState& poll() {
    std::ifstream in(path_, std::ios::binary);
    if (in && in.seekg(static_cast<std::streamoff>(offset_))) {
      const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      offset_ += text.size();
      scanner_.feed(text);
    }
    return scanner_.state();
  }
  const UpdateLogState& state() const { return scanner_.state(); }

 private:
  std::string path_;
  std::uint64_t offset_;
  UpdateLogScanner scanner_;
};

// True once the update thread, its tail included, has ended.
bool update_thread_ended(const Library& library) {
  return MALTOR_FUNCTION(library, MaltorWaitForUpdate)(0) == MALTOR_OK;
}

std::string update_outcome_line(const UpdateLogState& state, bool stopped, const std::string& log) {
  const bool finished = state.end == UpdateEnd::kFinished;
  std::string line = finished ? "firmware update finished" : "firmware update not finished";
  std::string separator = ": ";
  if (state.transferred) {
    line += separator + std::to_string(*state.transferred) + " bytes transferred";
    separator = "; ";
  }
  if (!state.failure.empty()) {
    line += separator + "the log says \"" + state.failure + "\"";
    separator = "; ";
  }
  if (state.end == UpdateEnd::kRunning) {
    line += separator + "the update thread ended without an end line in the log";
    separator = "; ";
  }
  if (stopped && !finished) line += separator + "stopped by Ctrl-C";
  return line + " (log " + log + ")";
}

int run_update(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::string target = args.required("TARGET");
  if (target != "logger" && target != "gateway") {
    throw usage_error("update: unknown target '" + target +
                      "' (logger or gateway; see maltor update --help)");
  }
  const std::string path = args.required("FILE");
  const std::optional<std::string> log = args.value("--log");
  args.expect_done();
  if (!log || log->empty()) {
    throw usage_error("update: --log LOG is required (the progress log the update appends to)");
  }
  input_file_size("update", path);
  check_destination("update", *log);
  const bool logger = target == "logger";

  // The update thread does not look for a device; it talks to slot 0 as it is.
  connect(session);
  const Library& library = session.library();
  const StartUpdate start = logger ? MALTOR_FUNCTION(library, UpdateLoggerFirmware)
                                   : MALTOR_FUNCTION(library, UpdateFirmware);
  const StopUpdate stop = MALTOR_FUNCTION(library, StopFirmwareUpdate);

  g_progress.store(0);
  MALTOR_FUNCTION(library, ReflashStatusCallBack)(record_progress);
  LogFollower follower(*log, file_size_or_zero(*log));
  check_result(start(path.c_str(), log->c_str()),
               "starting the " + target + " firmware update (" +
                   (logger ? "UpdateLoggerFirmware" : "UpdateFirmware") + ")");

  // The outcome is the log's: the status callback never reports a failure
  // or a stop, and a gateway image can show 100 before its last block.
  std::optional<ProgressBar> bar(std::in_place, target + " update", 100, ProgressUnit::kPercent);
  bool stopped = false;
  bool thread_ended = false;
  while (follower.poll().end == UpdateEnd::kRunning) {
    if (interrupted() && !stopped) {
      stopped = true;
      if (is_terminal(stderr)) std::fputc('\n', stderr);
      note(
          "stopping the firmware update (StopFirmwareUpdate); it ends after the block in "
          "flight");
      stop();  // fails only without a status callback, and one is set
    }
    bar->update(g_progress.load());
    // An update whose log cannot be written ends without an end line.
    if (update_thread_ended(library)) {
      thread_ended = true;
      follower.poll();
      break;
    }
    std::this_thread::sleep_for(kUpdatePollInterval);
  }
  const UpdateLogState& state = follower.state();
  const bool finished = state.end == UpdateEnd::kFinished;
  if (finished) {
    bar->update(100);
    bar->finish();
  }
  bar.reset();

  if (!thread_ended) {
    if (logger && finished) note("the logger restarts; waiting for the library to reconnect to it");
    while (!update_thread_ended(library)) {
      std::this_thread::sleep_for(kUpdatePollInterval);
    }
  }
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("target").value(target).key("file").value(path);
    json.key("finished").value(finished).key("transferred_bytes");
    json.value_or_null(state.transferred).key("failure");
    json.value_or_null(state.failure.empty() ? std::nullopt : std::optional(state.failure));
    json.key("stopped").value(stopped).key("log").value(*log).end_object();
    print_json(json);
  } else {
    std::printf("%s\n", update_outcome_line(state, stopped, *log).c_str());
  }
  if (finished) return kExitOk;
  return stopped ? interrupt_exit_code() : kExitFailed;
}

// ---- reflash ----

// Frames the virtual device took of the reflash under way, from its receipt
// of the latest reflash image: the start frame, the data frames and the end
// frame.
class ReflashReceipt {
 public:
  ReflashReceipt(const Library& library, std::int32_t device)
      : image_info_(MALTOR_FUNCTION(library, MaltorSim_ImageInfo)),
        device_(device),
        before_(read()) {}

  std::uint64_t frames_taken() {
    const MaltorSimImageInfo now = read();
    // Until the start frame is taken, the receipt is the previous image's.
    if (!started_) started_ = !same(now, before_);
    if (!started_) return 0;
    return 1 + std::uint64_t{now.blocks} + (now.finished - before_.finished);
  }

 private:
  MaltorSimImageInfo read() const {
    MaltorSimImageInfo info{};
    image_info_(device_, MALTOR_SIM_IMAGE_REFLASH, &info);
    return info;
  }
  static bool same(const MaltorSimImageInfo& a, const MaltorSimImageInfo& b) {
    return a.announced == b.announced && a.received == b.received && a.blocks == b.blocks &&
           a.finished == b.finished && a.errors == b.errors && a.hash == b.hash;
  }

  decltype(&::MaltorSim_ImageInfo) image_info_;
  std::int32_t device_;
  MaltorSimImageInfo before_;
  bool started_ = false;
};

int run_reflash(Session& session, ArgList& args) {
  const bool json_out = wants_json(session, args);
  const std::string path = args.required("FILE");
  args.expect_done();
  const std::uint64_t size = input_file_size("reflash", path);
  if (size == 0) throw usage_error("reflash: " + path + " is empty");
  if (size > kReflashImageBytes) {
    throw usage_error("reflash: " + path + " holds " + std::to_string(size) +
                      " bytes; an image is at most " + std::to_string(kReflashImageBytes));
  }

  connect(session);
  const Library& library = session.library();
  const auto reflash = MALTOR_FUNCTION(library, SCReflashFile);

  // The library reports no progress and no link speed; the virtual device
  // knows both.
  const VirtualDevice* device = slot0_virtual_device(session);
  std::optional<ReflashReceipt> receipt;
  if (device != nullptr && library.exports("MaltorSim_ImageInfo")) {
    receipt.emplace(library, device->id);
  }
  const std::uint32_t limit = device ? transfer_chunk_limit(device->high_speed) : 0;
  const std::uint64_t frames = receipt ? transfer_frames(kReflashImageBytes, limit) : 0;

  const std::string what = "reflashing the data processor with " + path + " (SCReflashFile)";
  const WatchedTransfer transfer{
      "reflash", "", frames, true, {}, [&](std::uint8_t result) { check_result(result, what); }};
  const auto started = std::chrono::steady_clock::now();
  const WatchedOutcome outcome = run_watched(
      transfer, [&] { return reflash(path.c_str()); },
      [&] { return receipt ? std::min(receipt->frames_taken(), frames) : 0; },
      receipt ? ProgressUnit::kItems : ProgressUnit::kElapsed);
  if (outcome.failure) throw *outcome.failure;

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::string line = "reflash done in " + format_duration(seconds) + ": " + path + " (" +
                     std::to_string(size) + " bytes";
  if (size < kReflashImageBytes) line += ", zero-filled to " + std::to_string(kReflashImageBytes);
  line += ")";
  if (frames > 0) {
    line +=
        ", " + std::to_string(frames) + " frames of up to " + std::to_string(limit) + " data bytes";
  }
  if (json_out) {
    JsonWriter json;
    json.begin_object().key("file").value(path).key("bytes").value(size);
    json.key("image_bytes").value(std::uint64_t{kReflashImageBytes}).key("seconds");
    json.value(static_cast<std::uint64_t>(seconds + 0.5)).key("frames");
    json.value_or_null(frames > 0 ? std::optional(frames) : std::nullopt).end_object();
    print_json(json);
  } else {
    std::printf("%s\n", line.c_str());
  }
  return outcome.interrupted ? interrupt_exit_code() : kExitOk;
}

constexpr Command kCommands[] = {
    {"update", "update the firmware of a logger or a gateway",
     "maltor [global options] update logger|gateway FILE --log LOG [--json]\n"
     "\n"
     "Sends the firmware image FILE to the logger (UpdateLoggerFirmware) or the\n"
     "gateway (UpdateFirmware) on the library's update thread, with a progress\n"
     "bar in percent from the status callback (ReflashStatusCallBack). The library\n"
     "appends its account of the update to the progress log LOG (created when\n"
     "missing); the update is over when LOG says so, and the last line printed is\n"
     "\"firmware update finished\" or \"firmware update not finished\" as LOG has it,\n"
     "with the bytes transferred and any failure line. maltor then waits for the\n"
     "update thread to end: after a finished logger update the library pauses\n"
     "about 7 s while the logger restarts, and after any logger update it leaves\n"
     "the device closed (the next command connects again). With --sim these\n"
     "pauses run on the virtual clock and take no real time.\n"
     "\n"
     "Ctrl-C asks the update to stop (StopFirmwareUpdate): it ends after the block\n"
     "in flight, LOG says not finished and the exit code is 130; a second Ctrl-C\n"
     "ends maltor at once. Exit code 1 when the update did not finish.\n"
     "\n"
     "  --log LOG   the progress log (required); its folder must exist\n",
     run_update},
    {"reflash", "reflash the data processor with a firmware image",
     "maltor [global options] reflash FILE [--json]\n"
     "\n"
     "Sends the image FILE to the data processor (SCReflashFile): a start frame,\n"
     "data frames of 490 bytes on a high-speed link (42 at full speed) and an end\n"
     "frame with the image's sum. The image is always 524288 bytes: a shorter FILE\n"
     "is sent followed by zeros; an empty FILE or a longer one is refused before\n"
     "anything is sent. The call cannot be stopped once it has begun.\n"
     "\n"
     "The library reports no progress. With the virtual device (--sim) the bar\n"
     "counts the frames it took; with a real device it shows the time elapsed only.\n",
     run_reflash},
};

}  // namespace

std::span<const Command> update_commands() {
  return kCommands;
}

}  // namespace maltor::tool
