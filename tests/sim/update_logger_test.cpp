// The logger firmware update: frames, progress values, log lines and tail.
#include <algorithm>

#include "update_test_util.h"

namespace maltor::test {
namespace {

using LoggerUpdate = UpdateTest;

const Bytes kStartFrame = {4, 0x84, 0, 0};
const Bytes kFinishFrame = {4, 0x88, 0, 0};
const Bytes kReconnectFrame = {4, 0x7C, 0, 0x62};

bool is_data_frame(const Bytes& frame) {
  return frame.size() >= 6 && frame[1] == 0x78;
}

std::vector<Bytes> data_frames() {
  std::vector<Bytes> out;
  for (const Bytes& frame : command_frames()) {
    if (is_data_frame(frame)) out.push_back(frame);
  }
  return out;
}

struct ProgressCase {
  std::size_t size;
  std::size_t frames;
  std::size_t last_payload;
  std::vector<std::uint32_t> progress;
};

void PrintTo(const ProgressCase& c, std::ostream* out) {
  *out << c.size << " bytes";
}

std::vector<std::uint32_t> rising_every(std::size_t blocks, std::size_t every) {
  std::vector<std::uint32_t> values;
  for (std::size_t b = 1; b < blocks; ++b) {
    values.push_back(static_cast<std::uint32_t>(std::min<std::size_t>(99, b / every)));
  }
  values.push_back(100);
  return values;
}

class LoggerSizes : public UpdateTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(LoggerSizes, FramesProgressAndImage) {
  const ProgressCase& c = GetParam();
  const std::int32_t device = plug_and_connect(2);
  const Bytes image = image_bytes(c.size);
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image).c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();

  EXPECT_EQ(progress(), c.progress);
  const std::vector<Bytes> all = frames();
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(all.front(), kStartFrame);
  EXPECT_EQ(all[all.size() - 2], kFinishFrame);
  EXPECT_EQ(all.back(), kReconnectFrame);
  const std::vector<Bytes> data = data_frames();
  ASSERT_EQ(data.size(), c.frames);
  std::size_t offset = 0;
  for (const Bytes& frame : data) {
    const std::size_t n = frame[4];
    ASSERT_EQ(frame.size(), n + 5);
    ASSERT_EQ(frame[0], n + 5);
    ASSERT_EQ(frame[2], 0);
    ASSERT_EQ(frame[3], 0);
    ASSERT_TRUE(std::equal(frame.begin() + 5, frame.end(), image.begin() + offset));
    offset += n;
  }
  EXPECT_EQ(data.back()[4], c.last_payload);

  const MaltorSimImageInfo info = image_info(device);
  EXPECT_EQ(info.received, c.size);
  EXPECT_EQ(info.hash, fnv1a(image));
  EXPECT_EQ(info.errors, 0u);
  EXPECT_EQ(info.finished, 1u);
  EXPECT_EQ(info.reconnects, 1u);
  EXPECT_FALSE(link::device_open());  // every logger update ends with the device closed
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LoggerSizes,
    ::testing::Values(ProgressCase{590, 10, 59, {1, 2, 3, 4, 5, 6, 7, 8, 9, 100}},
                      ProgressCase{100'000, 1695, 54, rising_every(1695, 16)},
                      ProgressCase{1, 1, 1, {100}}),
    [](const auto& info) { return "Bytes" + std::to_string(info.param.size); });

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

TEST_F(LoggerUpdate, EmptyFileExchangesStartOnly) {
  const std::int32_t device = plug_and_connect();
  set_wall_clock();
  const std::string path = write_image({});
  ASSERT_EQ(UpdateLoggerFirmware(path.c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();
  EXPECT_EQ(frames(), std::vector<Bytes>{kStartFrame});
  EXPECT_TRUE(progress().empty());
  EXPECT_EQ(log_text(), header_text(kLoggerTitle, 0, path) + trailer_text(0, false));
  EXPECT_EQ(image_info(device).finished, 0u);
  EXPECT_FALSE(link::device_open());
}

struct FailureCase {
  const char* name;
  std::uint32_t frame;  // MALTOR_SIM_FRAME_*, 0 for no device at all
  std::uint32_t nth;
  std::uint32_t action;
  std::size_t data_frames;
  std::string lines;  // what follows the header
  std::size_t callbacks;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
  *out << c.name;
}

class LoggerFailures : public UpdateTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(LoggerFailures, EndTheTransferWithTheirLines) {
  const FailureCase& c = GetParam();
  set_wall_clock();
  const std::int32_t device = plug_and_connect();
  if (c.frame == 0) {
    CloseDevice();
  } else {
    ASSERT_EQ(MaltorSim_UpdateFault(device, c.frame, c.nth, c.action), 0);
  }
  const std::string path = write_image(image_bytes(1000));
  ASSERT_EQ(UpdateLoggerFirmware(path.c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();

  EXPECT_EQ(log_text(), header_text(kLoggerTitle, 1000, path) + c.lines);
  EXPECT_EQ(data_frames().size(), c.data_frames);
  EXPECT_EQ(progress().size(), c.callbacks);
  const std::vector<Bytes> all = frames();
  EXPECT_EQ(std::count(all.begin(), all.end(), kFinishFrame), 0);
  EXPECT_FALSE(link::device_open());
}

const std::string kStartFailed = "Reprogramming  start - Failed\r\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, LoggerFailures,
    ::testing::Values(
        FailureCase{"StartRefused", MALTOR_SIM_FRAME_LOGGER_START, 1, MALTOR_SIM_UPDATE_REFUSE, 0,
                    kStartFailed, 0},
        FailureCase{"StartUnanswered", MALTOR_SIM_FRAME_LOGGER_START, 1, MALTOR_SIM_UPDATE_SILENT,
                    0, kStartFailed, 0},
        FailureCase{"NoDevice", 0, 0, 0, 0, kStartFailed, 0},
        FailureCase{"ThirdBlockRefused", MALTOR_SIM_FRAME_LOGGER_DATA, 3, MALTOR_SIM_UPDATE_REFUSE,
                    3, "Block 2 bytes    59  CRC - Failed\r\r\n" + trailer_text(118, false), 2},
        FailureCase{"FirstBlockUnanswered", MALTOR_SIM_FRAME_LOGGER_DATA, 1,
                    MALTOR_SIM_UPDATE_SILENT, 1,
                    "Block 0 bytes    59  CRC - Failed\r\r\n" + trailer_text(0, false), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoggerUpdate, TailReconnectsToTheRestartedLogger) {
  const std::int32_t device = plug_and_connect();
  const std::uint64_t before = MaltorSim_ClockNow();
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(200)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  wait_for_update();
  // The logger left after the finish frame and was back (3 s) within the 5 s pause.
  EXPECT_EQ(image_info(device).reconnects, 1u);
  EXPECT_GE(MaltorSim_ClockNow() - before, 7000u);
  EXPECT_FALSE(link::device_open());
  EXPECT_NE(DeviceIsReady(), 0);
}

TEST_F(LoggerUpdate, TailWithoutTheLoggerBackSendsNoReconnect) {
  const std::int32_t device = plug_and_connect();
  MaltorSim_SetRestartTime(device, 8000);
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(200)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  wait_for_update();
  EXPECT_EQ(image_info(device).reconnects, 0u);
  EXPECT_FALSE(link::device_open());
  EXPECT_EQ(DeviceIsReady(), 0);
  MaltorSim_ClockAdvance(2000);
  EXPECT_NE(DeviceIsReady(), 0);  // back after its restart
}

TEST_F(LoggerUpdate, ImageBeyondFourGigabytesIsNotSent) {
  plug_and_connect();
  set_wall_clock();
  const std::string path = sparse_image(0x1'0000'0001ull);
  ASSERT_EQ(UpdateLoggerFirmware(path.c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ(log_text(), header_text(kLoggerTitle, 0x1'0000'0001ull, path) +
                            "Reprogramming  start - Failed\r\r\n");
}

}  // namespace
}  // namespace maltor::test
