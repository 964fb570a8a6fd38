// Threads meeting inside the library over libusb and the emulated device, on
// the host's real clock: two threads exchanging, stops racing downloads, and
// exchanges against a living gateway update.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../thread_cases.h"
#include "libusb_fixture.h"

namespace maltor::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class LibusbThreads : public LibusbTest {
 protected:
  void SetUp() override {
    LibusbTest::SetUp();
    connect();
    folder_ = std::filesystem::temp_directory_path() /
              ("maltor_libusb_threads_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override {
    StopFirmwareUpdate();
    MaltorWaitForUpdate(60000);
    ReflashStatusCallBack(nullptr);
    std::filesystem::remove_all(folder_);
    LibusbTest::TearDown();
  }
  std::filesystem::path folder_;
};

TEST_F(LibusbThreads, TwoThreadsExchangeAtOnce) {
  logger().with_model([](sim::DeviceModel& model) { return model.content().clock = 1000; });
  Expected expected{1000, 0};
  ASSERT_EQ(SCSDLogCount(&expected.log_count), MALTOR_OK);
  EXPECT_EQ(two_threads_mixed(1000, expected), 0);
}

TEST_F(LibusbThreads, StopFromASecondThreadEndsTheDownload) {
  const std::string path = (folder_ / "log.bin").string();
  const Bytes whole = card_bytes(10 * 512, 256 * 512);
  std::mt19937 random(15);
  StopRacer stopper;
  int stopped_early = 0;
  for (int round = 1; round <= 100; ++round) {
    SCOPED_TRACE(round);
    stopper.start(round, std::uniform_int_distribution<unsigned>(0, 2000)(random));
    // A lost stop would stall for ten seconds and return MALTOR_ERR_EXCHANGE.
    ASSERT_EQ(SCSDRequestSendData(path.c_str(), 10, 265), MALTOR_OK);
    stopper.wait_stopped(round);
    const Bytes file = read_file(path);
    ASSERT_LE(file.size(), whole.size());
    ASSERT_TRUE(std::equal(file.begin(), file.end(), whole.begin()));
    stopped_early += file.size() < whole.size();
  }
  EXPECT_GT(stopped_early, 0);
}

void MALTOR_CALL ignore_progress(std::uint32_t) {}

TEST_F(LibusbThreads, GatewayUpdateRefusesExchangesUntilItsThreadEnds) {
  logger().with_model([](sim::DeviceModel& model) { return model.update().restart_ms = 0; });
  const std::string image = (folder_ / "image.bin").string();
  const std::string log = (folder_ / "progress.log").string();
  {
    std::ofstream out(image, std::ios::binary);
    for (int i = 0; i < 40000; ++i) out.put(static_cast<char>(i * 13));
  }
  ReflashStatusCallBack(ignore_progress);
  Helper connection;
  poll_connection(connection, std::chrono::microseconds(200));
  std::mt19937 random(40000);
  int refused = 0;
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(UpdateFirmware(image.c_str(), log.c_str()), MALTOR_OK);
    for (unsigned i = std::uniform_int_distribution<unsigned>(0, 3000)(random); i > 0; --i) {
      std::this_thread::yield();
    }
    ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
    std::uint32_t clock = 0;
    if (SCGetDateTime(&clock) == MALTOR_ERR_UPDATE_RUNNING) {
      ++refused;
      MaltorErrorDetail detail{};
      MaltorGetLastError(&detail);
      EXPECT_EQ(detail.kind, MALTOR_DETAIL_BUSY);
    }
    ASSERT_EQ(MaltorWaitForUpdate(20000), MALTOR_OK);
    MaltorConnection record{};
    ASSERT_EQ(GetConnected(&record), MALTOR_OK);
    ASSERT_EQ(SCGetDateTime(&clock), MALTOR_OK);
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace maltor::test
