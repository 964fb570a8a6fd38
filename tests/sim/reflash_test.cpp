// The data-processor reflash: chunking, padding, sums, failures and its two
// sequence counters.
#include "update/reflash.h"

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "link_test_util.h"
#include "transfer_test_util.h"

namespace maltor::test {
namespace {

// The reflash buffer: every image goes out padded to this size.
constexpr std::uint32_t kImage = 524288;
// How long a file-transfer frame waits for its reply.
constexpr std::uint64_t kTransferTimeoutMs = 10000;

struct SpeedCase {
  const char* name;
  std::uint8_t speed;
  std::uint32_t size;  // of the file; a shorter one goes out padded with zeros
  std::uint32_t limit, data_frames, last;
};

class ReflashSpeeds : public TransferTest, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(ReflashSpeeds, SendTheWholeImageInChunksOfTheLinkLimit) {
  const SpeedCase& c = GetParam();
  const std::int32_t device = plug_and_connect(1, c.speed);
  const std::uint8_t sequence = next_sequence();
  const Bytes file = image_bytes(c.size, 3);
  ASSERT_EQ(SCReflashFile(write_image(file).c_str()), MALTOR_OK);
  Bytes image = file;
  image.resize(kImage, 0);

  // The device took it all and checked the end frame's sum.
  const MaltorSimImageInfo i = image_info(device, MALTOR_SIM_IMAGE_REFLASH);
  EXPECT_EQ(std::tuple(i.announced, i.received, i.blocks, i.hash, i.finished, i.errors),
            std::tuple(kImage, kImage, c.data_frames, fnv1a(image), 1u, 0u));
  const std::uint32_t frames = c.data_frames + 2;

  // The trace keeps the latest frames: the tail of the data phase and the end,
  // whose sum is the file's.
  const std::vector<Bytes> tail = SimTest::frames_written();
  ASSERT_GE(tail.size(), 3u);
  const Bytes& end = tail.back();
  const std::uint16_t sum = sum16(file);
  EXPECT_EQ(end, (Bytes{static_cast<std::uint8_t>(sequence + frames - 1), 8, 0, 0x09, 0,
                        static_cast<std::uint8_t>(sum), static_cast<std::uint8_t>(sum >> 8),
                        sum8(end, 7)}));
  const Bytes& last = tail[tail.size() - 2];
  EXPECT_EQ(std::tuple(data_length(last), last.size(), data_offset(last)),
            std::tuple(c.last, c.last + 12, kImage - c.last));
  EXPECT_EQ(data_bytes(last), Bytes(image.end() - c.last, image.end()));
  EXPECT_EQ(data_length(tail[tail.size() - 3]), c.limit);
  EXPECT_EQ(probe_sequence(), static_cast<std::uint8_t>(sequence + frames));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Links, ReflashSpeeds, ::testing::Values(
    SpeedCase{"HighSpeed", MALTOR_SIM_HIGH_SPEED, kImage, 490, 1070, 478},
    SpeedCase{"FullSpeed", MALTOR_SIM_FULL_SPEED, kImage, 42, 12484, 2},
    SpeedCase{"ShortImage", MALTOR_SIM_HIGH_SPEED, 1000, 490, 1070, 478}),
    [](const auto& info) { return info.param.name; });
// clang-format on

struct FailureCase {
  const char* name;
  std::int32_t command;
  std::uint32_t fault, nth;
  std::size_t frames_written;
};

class ReflashFailures : public TransferTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ReflashFailures, StopAtTheFailedFrame) {
  const FailureCase& c = GetParam();
  const std::int32_t device = plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  const std::string path = write_image(image_bytes(1000));
  ASSERT_EQ(MaltorSim_InjectFault(device, c.fault, c.command, c.nth, 0), 0);
  const std::uint64_t waited = virtual_ms([&] { EXPECT_EQ(SCReflashFile(path.c_str()), 1); });

  // The start frame announces the whole buffer, also for a short file. Every
  // frame written took the next number.
  const std::vector<Bytes> frames = SimTest::frames_written();
  ASSERT_EQ(frames.size(), c.frames_written);
  EXPECT_EQ(frames.front(),
            stamped({0, 14, 0, 0x07, 0, 0, 0, 0, 0, 0x00, 0x00, 0x08, 0x00, 29}, sequence));
  EXPECT_EQ(frames.back()[0], static_cast<std::uint8_t>(sequence + c.frames_written - 1));
  const std::vector<std::uint8_t> codes = codes_written();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x09), c.command == 0x09 ? 1 : 0);
  // A missing reply is given up after the exchange's bound.
  if (c.fault == MALTOR_SIM_FAULT_NO_REPLY) {
    EXPECT_GE(waited, kTransferTimeoutMs);
    EXPECT_LT(waited, kTransferTimeoutMs + 1000);
  }
  // An end frame whose reply went missing still reached the device.
  EXPECT_EQ(image_info(device, MALTOR_SIM_IMAGE_REFLASH).finished, c.command == 0x09 ? 1u : 0u);
}

const FailureCase kFailures[] = {
    {"StartWrite", 0x07, MALTOR_SIM_FAULT_WRITE_FAILS, 1, 1},
    {"StartReply", 0x07, MALTOR_SIM_FAULT_NO_REPLY, 1, 1},
    {"FirstDataWrite", 0x08, MALTOR_SIM_FAULT_WRITE_FAILS, 1, 2},
    {"FirstDataReply", 0x08, MALTOR_SIM_FAULT_NO_REPLY, 1, 2},
    {"DataReply500", 0x08, MALTOR_SIM_FAULT_NO_REPLY, 500, 501},
    {"EndReply", 0x09, MALTOR_SIM_FAULT_NO_REPLY, 1, 1072},
    {"DeviceGone", 0x08, MALTOR_SIM_FAULT_UNPLUG_ON_READ, 3, 4},
};
INSTANTIATE_TEST_SUITE_P(Frames, ReflashFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return info.param.name; });

// SCReflashFile stamps the library-wide counter, SCReflash one of its own;
// each goes on where it stopped. SCReflash sends 490-byte frames even on a
// full-speed link.
TEST_F(TransferTest, ReflashKeepsItsOwnSequenceCounter) {
  char fixed[4096];
  ASSERT_TRUE(update::fixed_image_path(fixed, sizeof fixed));
  std::filesystem::remove(fixed);
  std::filesystem::create_directories(std::filesystem::path(fixed).parent_path());
  const std::int32_t device = plug_and_connect(1, MALTOR_SIM_FULL_SPEED);
  set_sequence(250);

  EXPECT_EQ(SCReflash(), 0);  // no image at the fixed path: nothing sent
  EXPECT_TRUE(SimTest::frames_written().empty());

  const std::string path = write_image(image_bytes(kImage, 11));
  std::filesystem::copy_file(path, fixed);
  EXPECT_EQ(SCReflash(), 1);
  const std::vector<Bytes> first = SimTest::frames_written();
  ASSERT_EQ(first.size(), 1072u);
  for (std::size_t i = 1; i < first.size(); ++i) {
    ASSERT_EQ(first[i][0], static_cast<std::uint8_t>(first[0][0] + i));
  }
  EXPECT_EQ(image_info(device, MALTOR_SIM_IMAGE_REFLASH).blocks, 1070u);
  EXPECT_EQ(probe_sequence(), 250);

  EXPECT_EQ(SCReflashFile(path.c_str()), MALTOR_OK);
  EXPECT_EQ(image_info(device, MALTOR_SIM_IMAGE_REFLASH).blocks, 12484u);
  EXPECT_EQ(SimTest::frames_written().back()[0], static_cast<std::uint8_t>(251 + 12485));
  EXPECT_EQ(probe_sequence(), static_cast<std::uint8_t>(251 + 12486));

  EXPECT_EQ(SCReflash(), 1);
  EXPECT_EQ(SimTest::frames_written().front()[0], static_cast<std::uint8_t>(first[0][0] + 1072));

  CloseDevice();  // without a device the first write fails
  EXPECT_EQ(SCReflash(), 0);
  EXPECT_EQ(SCReflashFile(path.c_str()), 1);
  std::filesystem::remove(fixed);
}

// Files that are not sent: the calls refuse them before any frame, and no
// sequence number is used.
TEST_F(TransferTest, RefusedFilesSendNothing) {
  plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  const std::string empty = write_image({}, "empty.bin");
  const std::string oversize = write_image(Bytes(kImage + 1, 1), "oversize.bin");
  for (const std::string& path : {(dir_ / "missing.bin").string(), empty, oversize}) {
    SCOPED_TRACE(path);
    std::uint16_t status = 0xBEEF;
    EXPECT_EQ(SCReflashFile(path.c_str()), 1);
    EXPECT_EQ(SCReconfigureFile(path.c_str(), &status), 1);
    EXPECT_EQ(status, 0xBEEF);
  }
  std::uint16_t status = 0;
  EXPECT_EQ(SCReflashFile(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(SCReconfigureFile(nullptr, &status), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(SCReconfigureFile(empty.c_str(), nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_TRUE(SimTest::frames_written().empty());
  EXPECT_EQ(probe_sequence(), sequence);
}

}  // namespace
}  // namespace maltor::test
