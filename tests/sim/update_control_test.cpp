// The control shared by both updates: start checks and their order, stop,
// the status callback and the hand-over from one update thread to the next.
#include <atomic>
#include <optional>
#include <thread>

#include "update_test_util.h"

namespace maltor::test {
namespace {

using UpdateControl = UpdateTest;

#ifndef _WIN32
std::size_t open_descriptors() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}
#endif

// Starts a logger update that stays at its first stop check until the clock
// runs again (manual mode); the update marker is set meanwhile.
class HeldUpdate {
 public:
  HeldUpdate(const std::string& image, const std::string& log) {
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);
    result = UpdateLoggerFirmware(image.c_str(), log.c_str());
  }
  ~HeldUpdate() { release(); }
  void release() {
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
    update::wait_for_update_thread();
  }
  std::uint8_t result;
};

enum class Path : std::uint8_t { kNull, kEmpty, kValid, kMissing };

struct StartCase {
  const char* name;
  bool callback;
  Path firmware;
  Path log;
  bool running;
  std::uint8_t expected;
  bool log_created;
};

void PrintTo(const StartCase& c, std::ostream* out) {
  *out << c.name;
}

class StartChecks : public UpdateTest, public ::testing::WithParamInterface<StartCase> {
 protected:
  std::string path_of(Path path, const std::string& valid, const std::string& missing) {
    switch (path) {
      case Path::kNull:
        return {};
      case Path::kEmpty:
        return "";
      case Path::kValid:
        return valid;
      case Path::kMissing:
        return missing;
    }
    return {};
  }
};

TEST_P(StartChecks, ComeInTheirOrder) {
  const StartCase& c = GetParam();
  plug_and_connect();
  const std::string image = write_image(image_bytes(590));
  const std::string log = (dir_ / "second.log").string();
  std::optional<HeldUpdate> held;
  if (c.running) {
    held.emplace(image, log_path_);
    ASSERT_EQ(held->result, MALTOR_OK);
  }
  if (!c.callback) ReflashStatusCallBack(nullptr);
  const std::string firmware = path_of(c.firmware, image, (dir_ / "missing.bin").string());
  const std::string log_arg = path_of(c.log, log, (dir_ / "no" / "such.log").string());
  const char* firmware_arg = c.firmware == Path::kNull ? nullptr : firmware.c_str();
  const char* log_ptr = c.log == Path::kNull ? nullptr : log_arg.c_str();

  EXPECT_EQ(UpdateLoggerFirmware(firmware_arg, log_ptr), c.expected);
  EXPECT_EQ(UpdateFirmware(firmware_arg, log_ptr), c.expected);
  EXPECT_EQ(std::filesystem::exists(log), c.log_created);
  if (c.expected != MALTOR_OK && !c.running) {
    EXPECT_EQ(link::g_update_marker.load(), link::kInvalidHandle);
  }
  if (held) {
    ReflashStatusCallBack(&ProgressRecorder::callback);
    held->release();
    // The update that ran meanwhile went on undisturbed.
    EXPECT_EQ(progress().back(), 100u);
    EXPECT_NE(log_text().find("Firmware update is finished successfully."), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartChecks,
    ::testing::Values(
        StartCase{"NoCallback", false, Path::kValid, Path::kValid, false, 5, false},
        StartCase{"NoCallbackBeforeEmptyPath", false, Path::kEmpty, Path::kNull, false, 5, false},
        StartCase{"NullFirmwarePath", true, Path::kNull, Path::kValid, false, 2, false},
        StartCase{"EmptyFirmwarePath", true, Path::kEmpty, Path::kValid, false, 2, false},
        StartCase{"NullLogPath", true, Path::kValid, Path::kNull, false, 2, false},
        StartCase{"EmptyLogPathWhileRunning", true, Path::kValid, Path::kEmpty, true, 2, false},
        StartCase{"WhileRunning", true, Path::kValid, Path::kValid, true, 1, false},
        StartCase{"RunningBeforeMissingFile", true, Path::kMissing, Path::kValid, true, 1, false},
        StartCase{"MissingFirmwareCreatesLog", true, Path::kMissing, Path::kValid, false, 3, true},
        StartCase{"LogInMissingFolder", true, Path::kValid, Path::kMissing, false, 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateControl, FailedOpenLeavesNeitherFileOpen) {
#ifdef _WIN32
  GTEST_SKIP() << "counts descriptors through /proc";
#else
  const std::string image = write_image(image_bytes(10));
  const std::size_t before = open_descriptors();
  EXPECT_EQ(UpdateFirmware((dir_ / "missing.bin").string().c_str(), log_path_.c_str()),
            MALTOR_ERR_FILE_OPEN);
  EXPECT_EQ(UpdateLoggerFirmware(image.c_str(), (dir_ / "no" / "x.log").string().c_str()),
            MALTOR_ERR_FILE_OPEN);
  EXPECT_EQ(open_descriptors(), before);
#endif
}

TEST_F(UpdateControl, StopWithNothingRunning) {
  EXPECT_EQ(StopFirmwareUpdate(), MALTOR_OK);
  EXPECT_EQ(link::g_update_marker.load(), link::kInvalidHandle);
  ReflashStatusCallBack(nullptr);
  EXPECT_EQ(StopFirmwareUpdate(), MALTOR_ERR_NO_CALLBACK);
}

struct StopCase {
  const char* name;
  bool logger;
  std::size_t size;
  std::size_t stop_after;  // callbacks before the stop; 0 stops before the first block
  std::size_t frames;      // frames written in all
  std::uint32_t acknowledged;
  std::vector<std::uint32_t> progress;
};

void PrintTo(const StopCase& c, std::ostream* out) {
  *out << c.name;
}

class Stops : public UpdateTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(Stops, EndTheTransferAtTheNextBlock) {
  const StopCase& c = GetParam();
  set_wall_clock();
  const std::int32_t device = plug_and_connect(2);
  const std::string image = write_image(image_bytes(c.size));
  const auto start = c.logger ? UpdateLoggerFirmware : UpdateFirmware;
  if (c.stop_after == 0) {
    // The update cannot pass its first stop check until the clock runs again.
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);
    ASSERT_EQ(start(image.c_str(), log_path_.c_str()), MALTOR_OK);
    EXPECT_EQ(StopFirmwareUpdate(), MALTOR_OK);
    EXPECT_EQ(link::g_update_marker.load(), link::kInvalidHandle);  // clear at once
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
  } else {
    ProgressRecorder::get().hook = [&](std::size_t count) {
      if (count == c.stop_after) StopFirmwareUpdate();
    };
    ASSERT_EQ(start(image.c_str(), log_path_.c_str()), MALTOR_OK);
  }
  wait_for_update();

  EXPECT_EQ(command_frames().size(), c.frames);  // no finish, reconnect or completion frame
  EXPECT_EQ(progress(), c.progress);
  EXPECT_EQ(log_text(), header_text(c.logger ? kLoggerTitle : kGatewayTitle, c.size, image) +
                            trailer_text(c.acknowledged, false));
  EXPECT_EQ(image_info(device).received, c.acknowledged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Stops,
    ::testing::Values(StopCase{"LoggerBeforeFirstBlock", true, 1000, 0, 1, 0, {}},
                      StopCase{"GatewayBeforeFirstBlock", false, 49'152, 0, 1, 0, {}},
                      StopCase{"LoggerAfterTwoBlocks", true, 1000, 2, 3, 118, {1, 2}},
                      StopCase{"GatewayAfterTwoBlocks", false, 49'152, 2, 3, 32'756, {33, 66}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateControl, NullCallbackWhileRunningSkipsTheReports) {
  const std::int32_t device = plug_and_connect();
  ProgressRecorder::get().hook = [](std::size_t count) {
    if (count == 3) ReflashStatusCallBack(nullptr);
  };
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(590)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  wait_for_update();
  EXPECT_EQ(progress(), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_EQ(image_info(device).finished, 1u);
  EXPECT_NE(log_text().find("Firmware update is finished successfully."), std::string::npos);
}

TEST_F(UpdateControl, StartFromTheStatusCallbackIsRefused) {
  plug_and_connect();
  const std::string image = write_image(image_bytes(590));
  const std::string other_log = (dir_ / "other.log").string();
  std::vector<std::uint8_t> results;
  ProgressRecorder::get().hook = [&](std::size_t count) {
    if (count != 1) return;
    StopFirmwareUpdate();  // the marker is clear now, yet this thread still runs the update
    results.push_back(UpdateLoggerFirmware(image.c_str(), other_log.c_str()));
    results.push_back(UpdateFirmware(image.c_str(), other_log.c_str()));
  };
  ASSERT_EQ(UpdateLoggerFirmware(image.c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();
  EXPECT_EQ(results,
            (std::vector<std::uint8_t>{MALTOR_ERR_UPDATE_RUNNING, MALTOR_ERR_UPDATE_RUNNING}));
  EXPECT_FALSE(std::filesystem::exists(other_log));
}

TEST_F(UpdateControl, NewStartWaitsForTheStoppedUpdateToEnd) {
  plug_and_connect();
  set_wall_clock();
  const std::string image = write_image(image_bytes(590));
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);
  ASSERT_EQ(UpdateLoggerFirmware(image.c_str(), log_path_.c_str()), MALTOR_OK);
  ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
  // The stopped update writes its trailer and then pauses 2 s on the clock.
  while (MaltorSim_ClockWaiters() == 0) std::this_thread::yield();
  const std::uint64_t pause_start = MaltorSim_ClockNow();

  std::atomic<bool> returned{false};
  std::uint8_t second = 0xFF;
  std::uint64_t started_at = 0;
  std::thread starter([&] {
    second = UpdateLoggerFirmware(image.c_str(), log_path_.c_str());
    started_at = MaltorSim_ClockNow();
    returned = true;
  });
  EXPECT_FALSE(returned.load());
  MaltorSim_ClockAdvance(2000);
  starter.join();
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
  wait_for_update();

  EXPECT_EQ(second, MALTOR_OK);
  EXPECT_GE(started_at, pause_start + 2000);
  // The first update's whole account comes before the second one's header:
  // the two never wrote the log at the same time. The second found the
  // device closed by the first one's end.
  const std::string first = header_text(kLoggerTitle, 590, image) + trailer_text(0, false);
  const std::string log = log_text();
  ASSERT_EQ(log.substr(0, first.size()), first);
  EXPECT_EQ(log.substr(first.size()).find("\r\r\n****"), 0u);
  EXPECT_NE(log.find("Reprogramming  start - Failed\r\r\n"), std::string::npos);
}

TEST_F(UpdateControl, TwoUpdatesAppendTwoAccounts) {
  const std::string image = write_image({0x5A});
  for (int run = 0; run < 2; ++run) {
    plug_and_connect();
    set_wall_clock();
    ASSERT_EQ(UpdateLoggerFirmware(image.c_str(), log_path_.c_str()), MALTOR_OK);
    wait_for_update();
    MaltorSim_Reset();
    link::ResetDeviceTable();
  }
  const std::string one = header_text(kLoggerTitle, 1, image) + trailer_text(1, true);
  EXPECT_EQ(log_text(), one + one);
}

}  // namespace
}  // namespace maltor::test
