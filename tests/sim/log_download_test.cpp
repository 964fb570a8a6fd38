#include "storage/log_download.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "device_op_case.h"
#include "stream_test_util.h"
#include "thread_cases.h"

namespace maltor::test {
namespace {

class LogDownload : public SimFolderTest {
 protected:
  void SetUp() override {
    SimFolderTest::SetUp();
    path_ = (dir_ / "log.bin").string();
    storage::set_download_flag(0);
  }

  void write_file(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::vector<std::uint8_t> file_bytes() const { return read_bytes(path_); }
  static void wait_for_stream_read(std::int32_t id) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waiting_reads(id, 0x83) != 1 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::yield();
    }
    ASSERT_EQ(waiting_reads(id, 0x83), 1);
  }

  std::string path_;
};

struct Range {
  const char* name;
  std::uint32_t first, last, bytes;
  std::vector<std::uint32_t> reads;
};

class LogDownloadRange : public LogDownload, public ::testing::WithParamInterface<Range> {};

// An existing file is always replaced, and the stream is read in chunks of
// at most 32,768 bytes; a wrapped range of zero bytes reads nothing.
TEST_P(LogDownloadRange, WritesTheRangeIntoAFreshFile) {
  const Range& range = GetParam();
  plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  write_file(std::string(70000, 'x'));

  ASSERT_EQ(SCSDRequestSendData(path_.c_str(), range.first, range.last), MALTOR_OK);

  EXPECT_EQ(file_bytes(), card_bytes(std::uint64_t{range.first} * 512, range.bytes));
  EXPECT_EQ(lengths_on(0x83), range.reads);
  EXPECT_EQ(storage::download_flag(), 1);  // a download that ran to its end leaves it set

  Bytes payload;  // first and last sector, low byte first, then two zero bytes
  for (const std::uint32_t v : {range.first, range.last}) {
    for (int i = 0; i < 4; ++i) payload.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  payload.insert(payload.end(), {0, 0});
  EXPECT_EQ(frames_written(), std::vector<Bytes>{standard_frame(sequence, 0x13, payload)});
}

INSTANTIATE_TEST_SUITE_P(Ranges, LogDownloadRange,
                         ::testing::Values(Range{"OneSector", 100, 100, 512, {512}},
                                           Range{"TwoFullChunks", 0, 127, 65536, {32768, 32768}},
                                           Range{"ChunkAndASector", 7, 71, 33280, {32768, 512}},
                                           Range{"EndBelowStartIsEmpty", 10, 9, 0, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogDownload, StallAfterPartOfTheDataKeepsWhatCame) {
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(
      MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_STREAM_STALL, MALTOR_SIM_ANY_COMMAND, 0, 5000), 0);
  const std::uint64_t before = MaltorSim_ClockNow();

  EXPECT_EQ(SCSDRequestSendData(path_.c_str(), 0, 127), MALTOR_ERR_EXCHANGE);

  EXPECT_EQ(file_bytes(), card_bytes(0, 5000));
  // Ten reads, each ended empty by the stream read bound of 1,000 ms.
  const std::uint64_t elapsed = MaltorSim_ClockNow() - before;
  EXPECT_GE(elapsed, 10 * 1000u);
  EXPECT_LT(elapsed, 11 * 1000u);
}

TEST_F(LogDownload, StopFromASecondThreadReleasesTheBlockedRead) {
  const std::int32_t id = plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);
  ASSERT_EQ(MaltorSim_SetOption(id, MALTOR_SIM_OPT_STREAM_RATE, 300), 0);

  std::uint8_t result = 0xFF;
  std::thread download([&] { result = SCSDRequestSendData(path_.c_str(), 0, 1023); });
  // Two paced reads of 3,000 bytes, the second starting mid-sector, then a
  // third that waits for data the device will not send.
  for (int i = 0; i < 2; ++i) {
    wait_for_stream_read(id);
    MaltorSim_ClockAdvance(10);
  }
  wait_for_stream_read(id);
  MaltorSim_DebugClear();

  EXPECT_EQ(SCSDStopSendData(), MALTOR_OK);
  download.join();

  EXPECT_EQ(result, MALTOR_OK);
  EXPECT_EQ(debug_texts(), std::vector<std::string>{"Cancel Operation\n"});
  EXPECT_EQ(file_bytes(), card_bytes(0, 6000));
  EXPECT_EQ(storage::download_flag(), 0);
  EXPECT_EQ(frames_written().back(), standard_frame(sequence + 1, 0x14));
}

TEST_F(LogDownload, FailedRequestsLeaveTheFileAlone) {
  write_file("keep");
  EXPECT_EQ(SCSDRequestSendData(path_.c_str(), 0, 0), MALTOR_ERR_NO_DEVICE);

  const std::int32_t id = plug_and_connect();
  EXPECT_EQ(SCSDRequestSendData(nullptr, 0, 0), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);

  MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x13, 1, 0);
  EXPECT_EQ(SCSDRequestSendData(path_.c_str(), 0, 0), MALTOR_ERR_EXCHANGE);
  EXPECT_TRUE(lengths_on(0x83).empty());
  EXPECT_EQ(storage::download_flag(), 0);

  const auto bytes = file_bytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep");
}

TEST_F(LogDownload, UnopenableDestinationStillDrainsTheStream) {
  plug_and_connect();
  const std::string path = (dir_ / "missing" / "log.bin").string();
  EXPECT_EQ(SCSDRequestSendData(path.c_str(), 0, 127), MALTOR_OK);
  EXPECT_EQ(lengths_on(0x83), (std::vector<std::uint32_t>{32768, 32768}));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(LogDownload, StopOutcomesAndTheFlag) {
  storage::set_download_flag(1);
  EXPECT_EQ(SCSDStopSendData(), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(storage::download_flag(), 1);

  const std::int32_t id = plug_and_connect();
  MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x14, 1, 0);
  EXPECT_EQ(SCSDStopSendData(), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(storage::download_flag(), 1);

  // With no download running the stop still goes out and clears the flag.
  EXPECT_EQ(SCSDStopSendData(), MALTOR_OK);
  EXPECT_EQ(storage::download_flag(), 0);
  EXPECT_EQ(frames_written().size(), 2u);
}

}  // namespace
}  // namespace maltor::test
