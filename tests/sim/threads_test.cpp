// Threads meeting inside the library: exchanges from two application threads
// at once, a stop racing a download's request, and the application's calls
// while an update thread is alive.
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <random>
#include <thread>

#include "thread_cases.h"
#include "update_test_util.h"

namespace maltor::test {
namespace {

// Standard frames with command `code` written since the trace was cleared.
std::size_t frames_with_code(std::uint8_t code) {
  std::size_t n = 0;
  for (std::uint32_t i = 0; i < MaltorSim_TraceCount(); ++i) {
    MaltorSimTraceEntry entry{};
    std::uint8_t head[4] = {};
    if (MaltorSim_TraceGet(i, &entry, head, sizeof head) < 4) continue;
    n += entry.pipe == 0x02 && head[3] == code && entry.length == head[1];
  }
  return n;
}

// Gives another thread a random head start of up to `most` yields.
void random_pause(std::mt19937& random, unsigned most) {
  for (unsigned i = std::uniform_int_distribution<unsigned>(0, most)(random); i > 0; --i) {
    std::this_thread::yield();
  }
}

std::uint8_t detail_kind() {
  MaltorErrorDetail detail{};
  MaltorGetLastError(&detail);
  return detail.kind;
}

// The device clock runs with the virtual clock: it is checked to lie at
// most a virtual day past the value it was set to.
constexpr std::uint32_t kClock = 0x6A5F3C21;
constexpr std::uint32_t kClockDrift = 86400;

class Threads : public UpdateTest {
 protected:
  void SetUp() override {
    UpdateTest::SetUp();
    device_ = plug_and_connect(1);
    MaltorSim_SetRestartTime(device_, 0);
    ASSERT_EQ(MaltorSim_SetContent(device_, MALTOR_SIM_CLOCK, &kClock, 4), 0);
  }
};

TEST_F(Threads, TwoThreadsExchangeAtOnceAndEachGetsItsOwnReplies) {
  Expected expected{kClock, 0};
  ASSERT_EQ(SCSDLogCount(&expected.log_count), MALTOR_OK);
  EXPECT_EQ(two_threads_mixed(1000, expected), 0);
}

TEST_F(Threads, StopFromASecondThreadEndsEveryDownloadWhoseRequestCameFirst) {
  const std::string path = (dir_ / "log.bin").string();
  constexpr std::uint32_t kFirst = 40, kLast = 40 + 63;
  const Bytes whole = card_bytes(std::uint64_t{kFirst} * 512, (kLast - kFirst + 1) * 512);
  // The stream comes 512 bytes a virtual millisecond, and a helper moves the
  // clock a millisecond at a time: a download takes 64 reads and real time,
  // so stops land before, during and after it.
  ASSERT_EQ(MaltorSim_SetOption(device_, MALTOR_SIM_OPT_STREAM_RATE, 512), 0);
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);
  Helper ticker;
  ticker.thread = std::thread([&] {
    while (!ticker.done.load()) {
      MaltorSim_ClockAdvance(1);
      std::this_thread::yield();
    }
  });
  std::mt19937 random(15);
  StopRacer stopper;
  int stopped_early = 0;
  for (int round = 1; round <= 300; ++round) {
    SCOPED_TRACE(round);
    MaltorSim_TraceClear();
    stopper.start(round, std::uniform_int_distribution<unsigned>(0, 100)(random));
    const std::uint8_t result = SCSDRequestSendData(path.c_str(), kFirst, kLast);
    stopper.wait_stopped(round);

    // A lost stop would leave the download waiting for a stream the device
    // has ended: ten empty reads and MALTOR_ERR_EXCHANGE.
    ASSERT_EQ(result, MALTOR_OK);
    const Bytes file = read_bytes(path);
    ASSERT_LE(file.size(), whole.size());
    ASSERT_TRUE(std::equal(file.begin(), file.end(), whole.begin()));
    stopped_early += file.size() < whole.size();
    // A stop that came before the request has nothing to stop.
    const auto frames = frames_written();
    if (frames.size() == 2 && frames[0][3] == 0x14) {
      EXPECT_EQ(file.size(), whole.size());
    }
  }
  EXPECT_GT(stopped_early, 0);
}

struct AliveCase {
  const char* name;
  bool logger;
  std::size_t image_size;
};

class UpdateAlive : public Threads, public ::testing::WithParamInterface<AliveCase> {};

// Start, stop at a random moment, exchange at once, wait, exchange again,
// while a third thread keeps asking for the connection.
TEST_P(UpdateAlive, ExchangesAreRefusedUntilTheThreadEndsThenSucceed) {
  const AliveCase& c = GetParam();
  const std::string image = write_image(image_bytes(c.image_size));
  const auto start = c.logger ? UpdateLoggerFirmware : UpdateFirmware;
  Helper connection;
  // Often, yet leaving the update thread the lock most of the time.
  poll_connection(connection, std::chrono::microseconds(50));

  std::mt19937 random(c.image_size);
  int refused = 0;
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE(round);
    MaltorSim_TraceClear();
    ASSERT_EQ(start(image.c_str(), log_path_.c_str()), MALTOR_OK);
    random_pause(random, 300);
    ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);

    std::uint32_t clock = 0;
    const std::size_t before = frames_with_code(0x11);
    const std::uint8_t result = SCGetDateTime(&clock);
    if (result == MALTOR_ERR_UPDATE_RUNNING) {
      ++refused;
      EXPECT_EQ(frames_with_code(0x11), before);
      EXPECT_EQ(detail_kind(), MALTOR_DETAIL_BUSY);
    }
    ASSERT_EQ(MaltorWaitForUpdate(20000), MALTOR_OK);

    // The logger's end closes the device; the connection thread or this
    // call finds it again.
    MaltorConnection record{};
    ASSERT_EQ(GetConnected(&record), MALTOR_OK);
    ASSERT_EQ(SCGetDateTime(&clock), MALTOR_OK);
    EXPECT_LE(clock - kClock, kClockDrift);
  }
  EXPECT_GT(refused, 0);
  EXPECT_EQ(image_info(device_).errors, 0u);
}

const AliveCase kAliveCases[] = {{"Logger", true, 1000}, {"Gateway", false, 40'000}};
INSTANTIATE_TEST_SUITE_P(Cases, UpdateAlive, ::testing::ValuesIn(kAliveCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Threads, StoppedUpdateRefusesEverythingButTheConnectionUntilItsThreadEnds) {
  set_wall_clock();
  const std::string image = write_image(image_bytes(590));
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);
  ASSERT_EQ(UpdateLoggerFirmware(image.c_str(), log_path_.c_str()), MALTOR_OK);
  ASSERT_EQ(StopFirmwareUpdate(), MALTOR_OK);
  // The stopped update has written its trailer and pauses 2 s on the clock.
  while (MaltorSim_ClockWaiters() == 0) std::this_thread::yield();
  MaltorSim_TraceClear();

  std::uint32_t clock = 0;
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  char text[16] = {};
  EXPECT_EQ(UpdateLoggerFirmware(image.c_str(), log_path_.c_str()), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(SCGetDateTime(&clock), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(detail_kind(), MALTOR_DETAIL_BUSY);
  EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(GetFirmwareVersion(text), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(MirelGetLogCount(&word, &word), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(SCSDRequestSendData((dir_ / "log.bin").string().c_str(), 0, 0),
            MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(SCSDStopSendData(), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(SCReflashFile(image.c_str()), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(SCReflash(), 0);
  EXPECT_EQ(SendTaloqConfiguration(nullptr, 0, nullptr), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_EQ(SCUSBSendStreamData(0, &a, 1), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_TRUE(frames_written().empty());
  EXPECT_NE(DeviceIsReady(), 0);
  MaltorConnection record{};
  EXPECT_EQ(GetConnected(&record), MALTOR_OK);
  EXPECT_EQ(MaltorWaitForUpdate(0), MALTOR_ERR_UPDATE_RUNNING);

  auto waited = std::async(std::launch::async, [] { return MaltorWaitForUpdate(60000); });
  EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
  MaltorSim_ClockAdvance(2000);
  EXPECT_EQ(waited.get(), MALTOR_OK);
  EXPECT_EQ(MaltorWaitForUpdate(0), MALTOR_OK);
  ASSERT_NE(DeviceIsReady(), 0);  // the logger's end closed it
  EXPECT_EQ(SCGetDateTime(&clock), MALTOR_OK);
  EXPECT_LE(clock - kClock, kClockDrift);
}

TEST_F(Threads, WaitForUpdateGivesUpAfterItsTimeOnTheLibrarysClock) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ProgressRecorder::get().hook = [released](std::size_t count) {
    if (count == 1) released.wait();  // holds the update thread in its callback
  };
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(590)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  while (progress().empty()) std::this_thread::yield();

  const std::uint64_t before = MaltorSim_ClockNow();
  EXPECT_EQ(MaltorWaitForUpdate(50), MALTOR_ERR_UPDATE_RUNNING);
  EXPECT_GE(MaltorSim_ClockNow() - before, 50u);
  release.set_value();
  EXPECT_EQ(MaltorWaitForUpdate(20000), MALTOR_OK);
  EXPECT_EQ(MaltorWaitForUpdate(0), MALTOR_OK);
}

TEST_F(Threads, WaitForUpdateOnTheUpdateThreadReturnsAtOnce) {
  std::vector<std::uint8_t> results;
  ProgressRecorder::get().hook = [&](std::size_t count) {
    if (count == 1) results.push_back(MaltorWaitForUpdate(20000));
  };
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(590)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  ASSERT_EQ(MaltorWaitForUpdate(20000), MALTOR_OK);
  EXPECT_EQ(results, std::vector<std::uint8_t>{MALTOR_ERR_UPDATE_RUNNING});
}

}  // namespace
}  // namespace maltor::test
