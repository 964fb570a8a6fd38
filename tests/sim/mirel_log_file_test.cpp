// The log file of a log-section device, downloaded into a text-mode file and
// checked against the device's sum.
#include <functional>
#include <string>

#include "sim_fixture.h"

namespace maltor::test {
namespace {

const Bytes kCheckFrame = {0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x05, 0x00, 0x05};
const std::string kOld = "old content\n";

// The first `n` bytes of a section's log file (a line feed every 64 bytes),
// as a text-mode file holds them: each line feed as CR LF.
Bytes log_text(std::uint32_t section, std::uint32_t n) {
  Bytes out;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint8_t b = k % 64 == 63 ? 0x0A : static_cast<std::uint8_t>(k + section);
    if (b == 0x0A) out.push_back(0x0D);
    out.push_back(b);
  }
  return out;
}

class MirelLogFile : public SimFolderTest {
 protected:
  void SetUp() override {
    SimFolderTest::SetUp();
    path_ = (dir_ / "log.txt").string();
    std::ofstream(path_, std::ios::binary) << kOld;
  }
  Bytes file_bytes() const { return read_bytes(path_); }
  static Bytes old_bytes() { return Bytes(kOld.begin(), kOld.end()); }

  std::string path_;
};

// The file holds each line feed as CR LF, while the sum the device checks
// counts the bytes as sent. An existing file is emptied first.
TEST_F(MirelLogFile, DownloadWritesTextModeAndChecksTheRawSum) {
  const struct {
    std::uint32_t section, length;
    Bytes values;                      // request bytes 8 on: both values MSB first, then the sum
    std::vector<std::uint32_t> reads;  // request reply, data reads, check reply
  } cases[] = {
      {1, 16384, {0, 0, 0, 0x01, 0, 0, 0x40, 0x00, 0x50}, {6, 16384, 8}},
      {3, 49252, {0, 0, 0, 0x03, 0, 0, 0xC0, 0x64, 0x36}, {6, 16384, 16384, 16384, 100, 8}},
      {5, 0, {0, 0, 0, 0x05, 0, 0, 0, 0, 0x14}, {6, 8}},  // straight to the check
  };
  plug_and_connect();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    MaltorSim_TraceClear();
    ASSERT_EQ(MirelGetFirstLogFile(c.section, c.length, path_.c_str()), MALTOR_OK);
    Bytes request = {0, 0, 0, 0, 0x11, 0, 0x0F, 0};
    request.insert(request.end(), c.values.begin(), c.values.end());
    EXPECT_EQ(frames_written(), (std::vector<Bytes>{request, kCheckFrame}));
    EXPECT_EQ(lengths_on(0x82), c.reads);
    EXPECT_EQ(file_bytes(), log_text(c.section, c.length));
  }
}

// How a download that does not complete ends: its result, how many frames
// went out (no check after a failed transfer) and what the file keeps.
struct Failure {
  const char* name;
  std::function<void(std::int32_t device)> arrange;
  std::uint32_t length;
  std::uint8_t result;
  std::size_t frames;
  std::int64_t kept;  // raw bytes the file holds, or -1: the old content is untouched
};

class MirelLogFileFailure : public MirelLogFile, public ::testing::WithParamInterface<Failure> {};

TEST_P(MirelLogFileFailure, EndsWithItsResult) {
  const Failure& f = GetParam();
  f.arrange(plug_and_connect());
  EXPECT_EQ(MirelGetFirstLogFile(4, f.length, path_.c_str()), f.result);
  EXPECT_EQ(frames_written().size(), f.frames);
  EXPECT_EQ(file_bytes(),
            f.kept < 0 ? old_bytes() : log_text(4, static_cast<std::uint32_t>(f.kept)));
}

// Mirel frames carry 0 in byte 3, so command 0 aims a fault at them.
void fault(std::int32_t id, std::uint32_t kind, std::uint32_t nth, std::uint32_t param = 0) {
  ASSERT_EQ(MaltorSim_InjectFault(id, kind, 0, nth, param), 0);
}
template <typename T>
void set(std::int32_t id, std::uint32_t item, T value) {
  ASSERT_EQ(MaltorSim_SetContent(id, item, &value, sizeof value), 0);
}
constexpr std::uint32_t kNoReply = MALTOR_SIM_FAULT_NO_REPLY, kStatus = MALTOR_SIM_FAULT_STATUS;
constexpr std::uint32_t kLimit = MALTOR_SIM_LOG_FILE_LIMIT;
constexpr std::uint8_t kExchange = MALTOR_ERR_EXCHANGE;

// clang-format off
const Failure kFailures[] = {
    {"SilentOnTheRequest", [](auto id) { fault(id, kNoReply, 1); }, 16384, kExchange, 1, -1},
    {"RequestRefusedByStatus", [](auto id) { fault(id, kStatus, 1, 0x21); }, 16384, 0x21, 1, -1},
    // The second block never comes: the file keeps the first.
    {"SilentDuringTheData", [](auto id) { set(id, kLimit, 16384u); }, 49152, kExchange, 1, 16384},
    // Every read brought bytes, the last one fewer than asked.
    {"TransferEndedShort", [](auto id) { set(id, kLimit, 16424u); }, 16484, kExchange, 1, 16424},
    {"SilentOnTheCheck", [](auto id) { fault(id, kNoReply, 2); }, 300, kExchange, 2, 300},
    {"CheckRefusedByStatus", [](auto id) { fault(id, kStatus, 2, 0x33); }, 300, 0x33, 2, 300},
    // A sum that does not match keeps the whole file.
    {"SumMismatch", [](auto id) { set<std::uint16_t>(id, MALTOR_SIM_LOG_SUM_OFFSET, 1); }, 20000,
     MALTOR_ERR_LOG_SUM, 2, 20000},
};
// clang-format on
INSTANTIATE_TEST_SUITE_P(Outcomes, MirelLogFileFailure, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// No frame goes out for a null path or without a device. A refused request
// is the device's status, in whichever byte of the values the device saw what
// it refuses (both go most significant byte first), and touches no file; a
// file that cannot be opened ends the download once the device accepted it.
TEST_F(MirelLogFile, RefusedDownloadsLeaveTheFileAlone) {
  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, nullptr), MALTOR_ERR_PATH);
  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, path_.c_str()), MALTOR_ERR_NO_DEVICE);
  plug_and_connect();
  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, nullptr), MALTOR_ERR_PATH);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);

  EXPECT_EQ(MirelGetFirstLogFile(0x0A0B0C0D, 0x00012345, path_.c_str()), 2);
  EXPECT_EQ(frames_written(), (std::vector<Bytes>{{0, 0, 0, 0, 0x11, 0, 0x0F, 0, 0x0A, 0x0B, 0x0C,
                                                   0x0D, 0x00, 0x01, 0x23, 0x45, 0xA6}}));
  EXPECT_EQ(file_bytes(), old_bytes());

  MaltorSim_TraceClear();
  const std::string path = (dir_ / "missing" / "log.txt").string();
  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, path.c_str()), MALTOR_ERR_LOG_OPEN);
  EXPECT_EQ(frames_written().size(), 1u);
  EXPECT_EQ(lengths_on(0x82), std::vector<std::uint32_t>{6});  // the file's bytes are not read
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace maltor::test
