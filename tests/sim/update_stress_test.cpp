// Updates started, stopped and restarted many times in a row, and stops from
// a second thread at any moment: every start is taken, every update thread
// ends, and every account in the log is whole.
#include <atomic>
#include <cstring>
#include <thread>

#include "update_test_util.h"

namespace maltor::test {
namespace {

using UpdateStress = UpdateTest;

const std::string kAccountStart = "\r\r\n" + std::string(93, '*') + "\r\r\n";

// Accounts in a progress log, and how many of them end in exactly one of the
// ways an update can end.
struct LogShape {
  std::size_t accounts = 0;
  std::size_t whole = 0;
  std::size_t finished = 0;
};

LogShape shape_of(const std::string& log) {
  static const char* const kEndings[] = {
      "Firmware update is finished successfully.\r\r\n",
      "Firmware update is not finished successfuly.\r\r\n",
      "Reprogramming  start - Failed\r\r\n",
      "Reprogramming  preparation - Failed\r\r\n",
  };
  LogShape shape;
  std::size_t at = log.find(kAccountStart);
  while (at != std::string::npos) {
    const std::size_t next = log.find(kAccountStart, at + kAccountStart.size());
    const std::string account = log.substr(at, next == std::string::npos ? next : next - at);
    std::size_t endings = 0;
    for (const char* ending : kEndings) {
      const std::size_t found = account.find(ending);
      if (found != std::string::npos && found + std::strlen(ending) == account.size()) ++endings;
    }
    ++shape.accounts;
    if (endings == 1) ++shape.whole;
    if (account.find(kEndings[0]) != std::string::npos) ++shape.finished;
    at = next;
  }
  return shape;
}

TEST_F(UpdateStress, StartStopAndRestartManyTimes) {
  const std::int32_t device = plug_and_connect(1);
  MaltorSim_SetRestartTime(device, 0);
  const std::string logger_image = write_image(image_bytes(1000), "logger.bin");
  const std::string gateway_image = write_image(image_bytes(40'000), "gateway.bin");
  const char* log = log_path_.c_str();
  constexpr int kRounds = 120;
  std::size_t starts = 0;
  std::size_t completions = 0;

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    ProgressRecorder::get().reset();
    switch (round % 4) {
      case 0:  // stop, then restart at once: the restart waits for the stopped thread
        ASSERT_EQ(UpdateLoggerFirmware(logger_image.c_str(), log), MALTOR_OK);
        ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
        ASSERT_EQ(UpdateLoggerFirmware(logger_image.c_str(), log), MALTOR_OK);
        ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
        starts += 2;
        break;
      case 1:  // stop from the status callback
        ProgressRecorder::get().hook = [](std::size_t) { StopFirmwareUpdate(); };
        ASSERT_EQ(UpdateFirmware(gateway_image.c_str(), log), MALTOR_OK);
        starts += 1;
        break;
      case 2:  // run to the end
        ASSERT_EQ(UpdateLoggerFirmware(logger_image.c_str(), log), MALTOR_OK);
        starts += 1;
        completions += 1;
        break;
      default:  // stop a gateway update, then run one to the end
        ASSERT_EQ(UpdateFirmware(gateway_image.c_str(), log), MALTOR_OK);
        ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
        ProgressRecorder::get().reset();
        ASSERT_EQ(UpdateFirmware(gateway_image.c_str(), log), MALTOR_OK);
        wait_for_update();
        EXPECT_EQ(progress().back(), 100u);
        starts += 2;
        completions += 1;
        break;
    }
    wait_for_update();
    ASSERT_EQ(link::g_update_marker.load(), link::kInvalidHandle);
    ASSERT_NE(DeviceIsReady(), 0);  // the logger's end closed it
  }

  const LogShape shape = shape_of(log_text());
  EXPECT_EQ(shape.accounts, starts);
  EXPECT_EQ(shape.whole, starts);
  EXPECT_GE(shape.finished, completions);
  EXPECT_EQ(image_info(device).errors, 0u);
}

TEST_F(UpdateStress, StopsFromAnotherThreadAtAnyMoment) {
  const std::int32_t device = plug_and_connect(1);
  MaltorSim_SetRestartTime(device, 0);
  const std::string logger_image = write_image(image_bytes(3000), "logger.bin");
  const std::string gateway_image = write_image(image_bytes(60'000), "gateway.bin");
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    while (!done.load()) {
      StopFirmwareUpdate();
      std::this_thread::yield();
    }
  });
  constexpr int kRounds = 100;
  for (int round = 0; round < kRounds; ++round) {
    const std::string& image = round % 2 == 0 ? logger_image : gateway_image;
    const auto start = round % 2 == 0 ? UpdateLoggerFirmware : UpdateFirmware;
    ASSERT_EQ(start(image.c_str(), log_path_.c_str()), MALTOR_OK);
    wait_for_update();
    ASSERT_EQ(link::g_update_marker.load(), link::kInvalidHandle);
    ASSERT_NE(DeviceIsReady(), 0);
  }
  done = true;
  stopper.join();

  const LogShape shape = shape_of(log_text());
  EXPECT_EQ(shape.accounts, static_cast<std::size_t>(kRounds));
  EXPECT_EQ(shape.whole, static_cast<std::size_t>(kRounds));
  EXPECT_EQ(image_info(device).errors, 0u);
}

}  // namespace
}  // namespace maltor::test
