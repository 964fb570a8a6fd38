// The control shared by both updates: start checks and their order, stop,
// the status callback and the hand-over from one update thread to the next.
#include <iterator>
#include <system_error>
#include <thread>

#include "update_test_util.h"

namespace maltor::test {
namespace {

using UpdateControl = UpdateTest;

// Open descriptors of this process; 0 where there is no /proc.
std::size_t open_descriptors() {
  std::error_code error;
  const std::filesystem::directory_iterator fds("/proc/self/fd", error);
  return error ? 0 : static_cast<std::size_t>(std::distance(fds, {}));
}

const auto kCaseName = [](const auto& info) { return std::string(info.param.name); };

enum Path : std::uint8_t { kNull, kEmpty, kValid, kMissing };

struct StartCase {
  const char* name;
  bool callback;
  Path firmware, log;
  bool running;  // a held logger update runs meanwhile
  std::uint8_t expected;
  bool log_created;
  friend void PrintTo(const StartCase& c, std::ostream* out) { *out << c.name; }
};

class StartChecks : public UpdateTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartChecks, ComeInTheirOrder) {
  const StartCase& c = GetParam();
  plug_and_connect();
  const std::string image = write_image(image_bytes(590));
  const std::string log = (dir_ / "second.log").string();
  const std::string no_image = (dir_ / "missing.bin").string();
  const std::string no_log = (dir_ / "no" / "such.log").string();
  const char* const firmwares[] = {nullptr, "", image.c_str(), no_image.c_str()};
  const char* const logs[] = {nullptr, "", log.c_str(), no_log.c_str()};
  if (c.running) {
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);  // holds it at its first stop check
    ASSERT_EQ(UpdateLoggerFirmware(image.c_str(), log_path_.c_str()), MALTOR_OK);
  }
  if (!c.callback) ReflashStatusCallBack(nullptr);
  const std::size_t descriptors = open_descriptors();

  EXPECT_EQ(UpdateLoggerFirmware(firmwares[c.firmware], logs[c.log]), c.expected);
  EXPECT_EQ(UpdateFirmware(firmwares[c.firmware], logs[c.log]), c.expected);
  EXPECT_EQ(std::filesystem::exists(log), c.log_created);
  if (!c.running) {
    EXPECT_EQ(MaltorWaitForUpdate(0), MALTOR_OK);  // nothing was left alive
    EXPECT_EQ(open_descriptors(), descriptors);    // a failed start leaves no file open
  } else {
    ReflashStatusCallBack(&ProgressRecorder::callback);
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
    wait_for_update();
    // The update that ran meanwhile went on undisturbed.
    EXPECT_EQ(progress().back(), 100u);
    EXPECT_NE(log_text().find("Firmware update is finished successfully."), std::string::npos);
  }
}

const StartCase kStartCases[] = {
    {"NoCallback", false, kValid, kValid, false, 5, false},
    {"NoCallbackBeforeEmptyPath", false, kEmpty, kNull, false, 5, false},
    {"NullFirmwarePath", true, kNull, kValid, false, 2, false},
    {"EmptyFirmwarePath", true, kEmpty, kValid, false, 2, false},
    {"NullLogPath", true, kValid, kNull, false, 2, false},
    {"EmptyLogPathWhileRunning", true, kValid, kEmpty, true, 2, false},
    {"WhileRunning", true, kValid, kValid, true, 1, false},
    {"RunningBeforeMissingFile", true, kMissing, kValid, true, 1, false},
    {"MissingFirmwareCreatesLog", true, kMissing, kValid, false, 3, true},
    {"LogInMissingFolder", true, kValid, kMissing, false, 3, false}};

INSTANTIATE_TEST_SUITE_P(Cases, StartChecks, ::testing::ValuesIn(kStartCases), kCaseName);

TEST_F(UpdateControl, StopWithNothingRunning) {
  EXPECT_EQ(StopFirmwareUpdate(), MALTOR_OK);
  EXPECT_EQ(MaltorWaitForUpdate(0), MALTOR_OK);
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
  friend void PrintTo(const StopCase& c, std::ostream* out) { *out << c.name; }
};

class Stops : public UpdateTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(Stops, EndTheTransferAtTheNextBlock) {
  const StopCase& c = GetParam();
  set_wall_clock();
  const std::int32_t device = plug_and_connect(2);
  const std::string image = write_image(image_bytes(c.size));
  const auto start = c.logger ? UpdateLoggerFirmware : UpdateFirmware;
  if (c.stop_after == 0) {
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);  // holds it at its first stop check
    ASSERT_EQ(start(image.c_str(), log_path_.c_str()), MALTOR_OK);
    EXPECT_EQ(StopFirmwareUpdate(), MALTOR_OK);
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
  } else {
    ProgressRecorder::get().hook = [&](std::size_t count) {
      if (count == c.stop_after) StopFirmwareUpdate();
    };
    ASSERT_EQ(start(image.c_str(), log_path_.c_str()), MALTOR_OK);
  }
  wait_for_update();

  EXPECT_EQ(SimTest::frames_written().size(),
            c.frames);  // no finish, reconnect or completion frame
  EXPECT_EQ(progress(), c.progress);
  EXPECT_EQ(log_text(), header_text(c.logger ? kLoggerTitle : kGatewayTitle, c.size, image) +
                            trailer_text(c.acknowledged, false));
  EXPECT_EQ(image_info(device).received, c.acknowledged);
}

const StopCase kStopCases[] = {{"LoggerBeforeFirstBlock", true, 1000, 0, 1, 0, {}},
                               {"GatewayBeforeFirstBlock", false, 49'152, 0, 1, 0, {}},
                               {"LoggerAfterTwoBlocks", true, 1000, 2, 3, 118, {1, 2}},
                               {"GatewayAfterTwoBlocks", false, 49'152, 2, 3, 32'756, {33, 66}}};

INSTANTIATE_TEST_SUITE_P(Cases, Stops, ::testing::ValuesIn(kStopCases), kCaseName);

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
    StopFirmwareUpdate();  // asked to stop, yet this thread still runs the update
    results.push_back(UpdateLoggerFirmware(image.c_str(), other_log.c_str()));
    results.push_back(UpdateFirmware(image.c_str(), other_log.c_str()));
  };
  ASSERT_EQ(UpdateLoggerFirmware(image.c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();
  EXPECT_EQ(results,
            (std::vector<std::uint8_t>{MALTOR_ERR_UPDATE_RUNNING, MALTOR_ERR_UPDATE_RUNNING}));
  EXPECT_FALSE(std::filesystem::exists(other_log));
}

}  // namespace
}  // namespace maltor::test
