// The logger firmware update: frames, progress values, log lines and tail.
#include <algorithm>

#include "update_test_util.h"

namespace maltor::test {
namespace {

using LoggerUpdate = UpdateTest;

const Bytes kStartFrame = {4, 0x84, 0, 0};
const Bytes kFinishFrame = {4, 0x88, 0, 0};
const Bytes kReconnectFrame = {4, 0x7C, 0, 0x62};

// Frames written on the command OUT pipe that carry image data (or, with
// `data` false, every other frame).
std::vector<Bytes> frames_where(bool data) {
  std::vector<Bytes> out;
  for (const Bytes& frame : SimTest::frames_written()) {
    if ((frame.size() >= 6 && frame[1] == 0x78) == data) out.push_back(frame);
  }
  return out;
}

struct ProgressCase {
  std::size_t size;
  std::uint8_t kind;
  std::size_t frames;
  std::size_t last_payload;
  std::vector<std::uint32_t> progress;
};

std::vector<std::uint32_t> rising_every(std::size_t blocks, std::size_t every) {
  std::vector<std::uint32_t> values;
  for (std::size_t b = 1; b < blocks; ++b) {
    values.push_back(static_cast<std::uint32_t>(std::min<std::size_t>(99, b / every)));
  }
  values.push_back(100);
  return values;
}

class LoggerSizes : public UpdateTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(LoggerSizes, FramesProgressImageAndTail) {
  const ProgressCase& c = GetParam();
  const std::int32_t device = plug_and_connect(c.kind);
  const Bytes image = image_bytes(c.size);
  const std::uint64_t before = MaltorSim_ClockNow();
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image).c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();

  EXPECT_EQ(progress(), c.progress);
  // Start, the image in data frames of 59 bytes but the last, finish and reconnect.
  ASSERT_EQ(59 * (c.frames - 1) + c.last_payload, c.size);
  std::vector<Bytes> expected{kStartFrame};
  for (std::size_t i = 0; i < c.frames; ++i) {
    const std::uint8_t n = i + 1 < c.frames ? 59 : static_cast<std::uint8_t>(c.last_payload);
    Bytes frame{static_cast<std::uint8_t>(n + 5), 0x78, 0, 0, n};
    frame.insert(frame.end(), image.begin() + 59 * i, image.begin() + 59 * i + n);
    expected.push_back(frame);
  }
  expected.insert(expected.end(), {kFinishFrame, kReconnectFrame});
  EXPECT_EQ(frames_written(), expected);

  const MaltorSimImageInfo info = image_info(device);
  EXPECT_EQ(info.received, c.size);
  EXPECT_EQ(info.hash, fnv1a(image));
  EXPECT_EQ(info.errors, 0u);
  EXPECT_EQ(info.finished, 1u);
  // The logger left after the finish frame and was back (3 s) within the 5 s
  // pause, so the tail reconnected.
  EXPECT_EQ(info.reconnects, 1u);
  EXPECT_GE(MaltorSim_ClockNow() - before, 7000u);
  EXPECT_FALSE(device_held());  // every logger update ends with the device closed
  EXPECT_NE(DeviceIsReady(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LoggerSizes,
    ::testing::Values(ProgressCase{590, 2, 10, 59, {1, 2, 3, 4, 5, 6, 7, 8, 9, 100}},
                      ProgressCase{100'000, 2, 1695, 54, rising_every(1695, 16)},
                      ProgressCase{1, 1, 1, 1, {100}}),
    [](const auto& info) {
      return "Bytes" + std::to_string(info.param.size) + "Kind" + std::to_string(info.param.kind);
    });

TEST_F(LoggerUpdate, ProgressLogByteForByte) {
  plug_and_connect();
  set_wall_clock();
  const std::string path = write_image(image_bytes(590));
  ASSERT_EQ(UpdateLoggerFirmware(path.c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();
  const std::string expected =
      "\r\r\n"
      "*****************************************************************************************"
      "****\r\r\n"
      "Varden Osprin reprogramming started at            Thu Jun  4 12:00:00 2026\r\n"
      "590 bytes                                         " +
      path +
      "\r\r\n"
      "590 bytes                                         Transfered data\r\r\n"
      "Firmware update is finished successfully.\r\r\n";
  EXPECT_EQ(log_text(), expected);
}

struct FailureCase {
  const char* name;
  std::uint64_t size;
  std::uint32_t frame;  // MALTOR_SIM_FRAME_*, kNoDevice or kNoFault
  std::uint32_t nth;
  std::uint32_t action;
  bool started;  // the start frame went out
  std::size_t data_frames;
  std::string lines;  // what follows the header
  std::size_t callbacks;
};

class LoggerFailures : public UpdateTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LoggerFailures, EndTheTransferWithTheirLines) {
  const FailureCase& c = GetParam();
  const std::string path = run_update(true, 1, c.size, c.frame, c.nth, c.action);
  EXPECT_EQ(log_text(), header_text(kLoggerTitle, c.size, path) + c.lines);
  EXPECT_EQ(frames_where(true).size(), c.data_frames);
  // Neither finish nor reconnect frame after a failure.
  EXPECT_EQ(frames_where(false),
            c.started ? std::vector<Bytes>{kStartFrame} : std::vector<Bytes>{});
  EXPECT_EQ(progress().size(), c.callbacks);
  EXPECT_EQ(image_info(device_).finished, 0u);
  EXPECT_FALSE(device_held());
}

const std::string kStartFailed = "Reprogramming  start - Failed\r\r\n";
constexpr std::uint32_t kStart = MALTOR_SIM_FRAME_LOGGER_START;
constexpr std::uint32_t kData = MALTOR_SIM_FRAME_LOGGER_DATA;
constexpr std::uint32_t kRefuse = MALTOR_SIM_UPDATE_REFUSE;
constexpr std::uint32_t kSilent = MALTOR_SIM_UPDATE_SILENT;

INSTANTIATE_TEST_SUITE_P(
    Cases, LoggerFailures,
    ::testing::Values(
        FailureCase{"StartRefused", 1000, kStart, 1, kRefuse, true, 0, kStartFailed, 0},
        FailureCase{"StartUnanswered", 1000, kStart, 1, kSilent, true, 0, kStartFailed, 0},
        FailureCase{"NoDevice", 1000, kNoDevice, 0, 0, false, 0, kStartFailed, 0},
        FailureCase{"ThirdBlockRefused", 1000, kData, 3, kRefuse, true, 3,
                    "Block 2 bytes    59  CRC - Failed\r\r\n" + trailer_text(118, false), 2},
        FailureCase{"FirstBlockUnanswered", 1000, kData, 1, kSilent, true, 1,
                    "Block 0 bytes    59  CRC - Failed\r\r\n" + trailer_text(0, false), 0},
        // An empty file exchanges the start frame only.
        FailureCase{"EmptyImage", 0, kNoFault, 0, 0, true, 0, trailer_text(0, false), 0},
        FailureCase{"ImageBeyondFourGigabytes", 0x1'0000'0001ull, kNoFault, 0, 0, false, 0,
                    kStartFailed, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoggerUpdate, TailWithoutTheLoggerBackSendsNoReconnect) {
  const std::int32_t device = plug_and_connect();
  MaltorSim_SetRestartTime(device, 8000);
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(200)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  wait_for_update();
  EXPECT_EQ(image_info(device).reconnects, 0u);
  EXPECT_FALSE(device_held());
  EXPECT_EQ(DeviceIsReady(), 0);
  MaltorSim_ClockAdvance(2000);
  EXPECT_NE(DeviceIsReady(), 0);  // back after its restart
}

}  // namespace
}  // namespace maltor::test
