// Updates started, stopped and restarted many times in a row, and stops from
// a second thread at any moment: every start is taken, every update thread
// ends, and every account in the log is whole.
#include <atomic>
#include <thread>

#include "update_test_util.h"

namespace maltor::test {
namespace {

class UpdateStress : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    device_ = plug_and_connect(1);
    MaltorSim_SetRestartTime(device_, 0);
  }

  // Waits for the round's update to end; the logger's end closed the device.
  static void end_round() {
    ASSERT_EQ(MaltorWaitForUpdate(600000), MALTOR_OK);
    ASSERT_NE(DeviceIsReady(), 0);
  }

  // Every start left one account that ends in exactly one of the ways an
  // update can end; at least `finished` of them ended successfully.
  void expect_log(std::size_t starts, std::size_t finished = 0) {
    static const std::string kEndings[] = {"Firmware update is finished successfully.\r\r\n",
                                           "Firmware update is not finished successfuly.\r\r\n",
                                           "Reprogramming  start - Failed\r\r\n",
                                           "Reprogramming  preparation - Failed\r\r\n"};
    const std::string log = log_text();
    std::size_t accounts = 0, whole = 0, successes = 0;
    for (std::size_t at = log.find(kAccountRule); at != std::string::npos; ++accounts) {
      const std::size_t next = log.find(kAccountRule, at + kAccountRule.size());
      const std::string account = log.substr(at, next - at);  // to the end when next is npos
      // Whole: an ending found first at the very end; no ending is a suffix of another.
      for (const std::string& ending : kEndings) {
        whole += account.find(ending) == account.size() - ending.size();
      }
      successes += account.find(kEndings[0]) != std::string::npos;
      at = next;
    }
    EXPECT_EQ(accounts, starts);
    EXPECT_EQ(whole, starts);
    EXPECT_GE(successes, finished);
    EXPECT_EQ(image_info(device_).errors, 0u);
  }
};

TEST_F(UpdateStress, StartStopAndRestartManyTimes) {
  const std::string logger = write_image(image_bytes(1000), "logger.bin");
  const std::string gateway = write_image(image_bytes(40'000), "gateway.bin");
  const char* log = log_path_.c_str();
  std::size_t starts = 0, completions = 0;
  for (int round = 0; round < 120; ++round) {
    SCOPED_TRACE(round);
    ProgressRecorder::get().reset();
    switch (round % 4) {
      case 0:  // stop, then restart once the stopped thread has ended
        for (int i = 0; i < 2; ++i, ++starts) {
          ASSERT_EQ(UpdateLoggerFirmware(logger.c_str(), log), MALTOR_OK);
          ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
          ASSERT_EQ(MaltorWaitForUpdate(20000), MALTOR_OK);
        }
        break;
      case 1:  // stop from the status callback
        ProgressRecorder::get().hook = [](std::size_t) { StopFirmwareUpdate(); };
        ASSERT_EQ(UpdateFirmware(gateway.c_str(), log), MALTOR_OK);
        ++starts;
        break;
      case 2:  // run to the end
        ASSERT_EQ(UpdateLoggerFirmware(logger.c_str(), log), MALTOR_OK);
        ++starts, ++completions;
        break;
      default:  // stop a gateway update, then run one to the end
        ASSERT_EQ(UpdateFirmware(gateway.c_str(), log), MALTOR_OK);
        ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
        ASSERT_EQ(MaltorWaitForUpdate(20000), MALTOR_OK);
        ProgressRecorder::get().reset();
        ASSERT_EQ(UpdateFirmware(gateway.c_str(), log), MALTOR_OK);
        wait_for_update();
        EXPECT_EQ(progress().back(), 100u);
        starts += 2, ++completions;
        break;
    }
    ASSERT_NO_FATAL_FAILURE(end_round());
  }
  expect_log(starts, completions);
}

TEST_F(UpdateStress, StopsFromAnotherThreadAtAnyMoment) {
  const std::string logger = write_image(image_bytes(3000), "logger.bin");
  const std::string gateway = write_image(image_bytes(60'000), "gateway.bin");
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    for (; !done.load(); std::this_thread::yield()) StopFirmwareUpdate();
  });
  constexpr int kRounds = 100;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = round % 2 == 0 ? UpdateLoggerFirmware : UpdateFirmware;
    ASSERT_EQ(start((round % 2 == 0 ? logger : gateway).c_str(), log_path_.c_str()), MALTOR_OK);
    ASSERT_NO_FATAL_FAILURE(end_round());
  }
  done = true;
  stopper.join();
  expect_log(kRounds);
}

}  // namespace
}  // namespace maltor::test
