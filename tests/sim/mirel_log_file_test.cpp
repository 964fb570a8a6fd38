// The log file of a log-section device, downloaded into a text-mode file and
// checked against the device's sum.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>

#include "sim_fixture.h"

namespace maltor::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const Bytes kCheckFrame = {0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x05, 0x00, 0x05};
const std::string kOldContent = "old content\n";

// The first `n` bytes of a section's log file, as the control header documents them.
Bytes log_file(std::uint32_t section, std::uint32_t n) {
  Bytes out(n);
  for (std::uint32_t k = 0; k < n; ++k) {
    out[k] = k % 64 == 63 ? 0x0A : static_cast<std::uint8_t>(k + section);
  }
  return out;
}

// What a text-mode file holds after `raw` was written to it.
Bytes text_mode(const Bytes& raw) {
  Bytes out;
  for (const std::uint8_t b : raw) {
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
    std::ofstream(path_, std::ios::binary) << kOldContent;
  }

  Bytes file_bytes() const { return read_bytes(path_); }
  static Bytes old_content() { return Bytes(kOldContent.begin(), kOldContent.end()); }
  // Bytes moved by each read of the command IN pipe.
  static std::vector<std::uint32_t> command_reads() {
    std::vector<std::uint32_t> out;
    for (const Transfer& t : trace()) {
      if (t.pipe == 0x82) out.push_back(t.length);
    }
    return out;
  }

  std::string path_;
};

struct Download {
  const char* name;
  std::uint32_t section;
  std::uint32_t length;
  Bytes values;                      // request bytes 8 on: both values MSB first, then the sum
  std::vector<std::uint32_t> reads;  // request reply, data reads, check reply
};
void PrintTo(const Download& d, std::ostream* os) {
  *os << d.name;
}

class MirelLogFileDownload : public MirelLogFile, public ::testing::WithParamInterface<Download> {};

// The device's content has line feeds every 64 bytes: the file holds each as
// CR LF, while the sum the device checks counts the bytes as sent. An
// existing file is emptied first.
TEST_P(MirelLogFileDownload, WritesTheFileInTextModeAndChecksTheRawSum) {
  const Download& d = GetParam();
  plug_and_connect();

  ASSERT_EQ(MirelGetFirstLogFile(d.section, d.length, path_.c_str()), MALTOR_OK);

  Bytes request = {0, 0, 0, 0, 0x11, 0, 0x0F, 0};
  request.insert(request.end(), d.values.begin(), d.values.end());
  EXPECT_EQ(frames_written(), (std::vector<Bytes>{request, kCheckFrame}));
  EXPECT_EQ(command_reads(), d.reads);
  EXPECT_EQ(file_bytes(), text_mode(log_file(d.section, d.length)));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lengths, MirelLogFileDownload, ::testing::Values(
    Download{"OneWholeBlock", 1, 16384, {0, 0, 0, 0x01, 0, 0, 0x40, 0x00, 0x50}, {6, 16384, 8}},
    Download{"ThreeBlocksAndARemainder", 3, 49252, {0, 0, 0, 0x03, 0, 0, 0xC0, 0x64, 0x36},
             {6, 16384, 16384, 16384, 100, 8}},
    Download{"EmptyFileGoesStraightToTheCheck", 5, 0, {0, 0, 0, 0x05, 0, 0, 0, 0, 0x14}, {6, 8}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(MirelLogFile, SumMismatchKeepsTheWholeFile) {
  const std::int32_t id = plug_and_connect();
  const std::uint16_t offset = 1;
  ASSERT_EQ(MaltorSim_SetContent(id, MALTOR_SIM_LOG_SUM_OFFSET, &offset, sizeof offset), 0);

  EXPECT_EQ(MirelGetFirstLogFile(2, 20000, path_.c_str()), MALTOR_ERR_LOG_SUM);
  EXPECT_EQ(file_bytes(), text_mode(log_file(2, 20000)));
}

// A refused request is the device's status, in whichever byte of the values
// the device saw what it refuses: both go most significant byte first.
TEST_F(MirelLogFile, RefusedRequestTouchesNoFile) {
  plug_and_connect();

  EXPECT_EQ(MirelGetFirstLogFile(0x0A0B0C0D, 0x00012345, path_.c_str()), 2);

  EXPECT_EQ(frames_written(), (std::vector<Bytes>{{0, 0, 0, 0, 0x11, 0, 0x0F, 0, 0x0A, 0x0B, 0x0C,
                                                   0x0D, 0x00, 0x01, 0x23, 0x45, 0xA6}}));
  EXPECT_EQ(file_bytes(), old_content());
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
void PrintTo(const Failure& f, std::ostream* os) {
  *os << f.name;
}

class MirelLogFileFailure : public MirelLogFile, public ::testing::WithParamInterface<Failure> {};

TEST_P(MirelLogFileFailure, EndsWithItsResult) {
  const Failure& f = GetParam();
  const std::int32_t id = plug_and_connect();
  f.arrange(id);

  EXPECT_EQ(MirelGetFirstLogFile(4, f.length, path_.c_str()), f.result);

  EXPECT_EQ(frames_written().size(), f.frames);
  if (f.kept < 0) {
    EXPECT_EQ(file_bytes(), old_content());
  } else {
    EXPECT_EQ(file_bytes(), text_mode(log_file(4, static_cast<std::uint32_t>(f.kept))));
  }
}

// Mirel frames carry 0 in byte 3, so command 0 aims a fault at them.
void fault(std::int32_t id, std::uint32_t kind, std::uint32_t nth, std::uint32_t param = 0) {
  ASSERT_EQ(MaltorSim_InjectFault(id, kind, 0, nth, param), 0);
}
void limit(std::int32_t id, std::uint32_t bytes) {
  ASSERT_EQ(MaltorSim_SetContent(id, MALTOR_SIM_LOG_FILE_LIMIT, &bytes, sizeof bytes), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, MirelLogFileFailure,
    ::testing::Values(
        Failure{"SilentOnTheRequest", [](auto id) { fault(id, MALTOR_SIM_FAULT_NO_REPLY, 1); },
                16384, MALTOR_ERR_EXCHANGE, 1, -1},
        Failure{"RequestRefusedByStatus",
                [](auto id) { fault(id, MALTOR_SIM_FAULT_STATUS, 1, 0x21); }, 16384, 0x21, 1, -1},
        // The second block never comes: the file keeps the first.
        Failure{"SilentDuringTheData", [](auto id) { limit(id, 16384); }, 49152,
                MALTOR_ERR_EXCHANGE, 1, 16384},
        // Every read brought bytes, the last one fewer than asked.
        Failure{"TransferEndedShort", [](auto id) { limit(id, 16424); }, 16484, MALTOR_ERR_EXCHANGE,
                1, 16424},
        Failure{"SilentOnTheCheck", [](auto id) { fault(id, MALTOR_SIM_FAULT_NO_REPLY, 2); }, 300,
                MALTOR_ERR_EXCHANGE, 2, 300},
        Failure{"CheckRefusedByStatus",
                [](auto id) { fault(id, MALTOR_SIM_FAULT_STATUS, 2, 0x33); }, 300, 0x33, 2, 300}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MirelLogFile, UnopenableFileAfterTheDeviceAccepted) {
  plug_and_connect();
  const std::string path = (dir_ / "missing" / "log.txt").string();

  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, path.c_str()), MALTOR_ERR_LOG_OPEN);

  EXPECT_EQ(frames_written().size(), 1u);
  EXPECT_EQ(command_reads(), std::vector<std::uint32_t>{6});  // the file's bytes are not read
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(MirelLogFile, NullPathAndNoDeviceSendNothing) {
  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, nullptr), MALTOR_ERR_PATH);
  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, path_.c_str()), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(file_bytes(), old_content());

  plug_and_connect();
  EXPECT_EQ(MirelGetFirstLogFile(1, 16384, nullptr), MALTOR_ERR_PATH);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);
}

}  // namespace
}  // namespace maltor::test
