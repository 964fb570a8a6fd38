// Configuration files to and from the data processor: the send's frames and
// status word, and the read-back's requests and file.
#include <tuple>

#include "transfer_test_util.h"

namespace maltor::test {
namespace {

struct SendCase {
  std::uint8_t speed;
  std::uint32_t size;
  std::vector<std::uint32_t> chunks, requests;
};

class ConfigSend : public TransferTest, public ::testing::WithParamInterface<SendCase> {};

// Start frame: the size and file bytes 6-21 (zeros past a short file's end);
// data frames: only the file, in chunks of the link's limit; end frame: the
// file's sum. Each frame takes the next library-wide sequence number. The
// device then reports the size and tag, and a read-back asks in requests of at
// most 200 bytes and returns the file unchanged.
TEST_P(ConfigSend, FramesTheFileAndReadsItBack) {
  const SendCase& c = GetParam();
  plug_and_connect(1, c.speed);
  const std::uint8_t sequence = next_sequence();
  const Bytes file = image_bytes(c.size, 21);
  std::uint16_t status = 0xBEEF;
  ASSERT_EQ(SCReconfigureFile(write_image(file).c_str(), &status), MALTOR_OK);
  EXPECT_EQ(status, 0);

  std::vector<Bytes> frames = SimTest::frames_written();
  ASSERT_EQ(frames.size(), c.chunks.size() + 2);
  Bytes start = {sequence, 26, 0, 0x0B, 0};
  for (int i = 0; i < 4; ++i) start.push_back(static_cast<std::uint8_t>(c.size >> (8 * i)));
  for (std::uint32_t i = 6; i < 22; ++i) start.push_back(i < c.size ? file[i] : 0);
  start.push_back(sum8(start, 25));
  EXPECT_EQ(frames[0], start);
  std::uint32_t offset = 0;
  for (std::size_t i = 0; i < c.chunks.size(); ++i) {
    const Bytes& d = frames[i + 1];
    EXPECT_EQ(std::tuple(code_of(d), data_length(d), le(d, 1, 2), data_offset(d)),
              std::tuple(0x0C, c.chunks[i], c.chunks[i] + 12, offset));
    offset += c.chunks[i];
  }
  EXPECT_EQ(code_of(frames.back()), 0x0D);
  EXPECT_EQ(le(frames.back(), 5, 2), sum16(file));
  EXPECT_EQ(frames.back()[0], static_cast<std::uint8_t>(sequence - 1 + frames.size()));
  EXPECT_EQ(probe_sequence(), static_cast<std::uint8_t>(sequence + frames.size()));

  std::uint8_t tag[16] = {};
  std::uint32_t size = 0;
  ASSERT_EQ(SCUSBGetConfigInfo(tag, &size), MALTOR_OK);
  EXPECT_EQ(size, c.size);
  EXPECT_EQ(Bytes(tag, tag + 16), Bytes(start.begin() + 9, start.begin() + 25));

  MaltorSim_TraceClear();
  const std::string out = (dir_ / "back.cfg").string();
  EXPECT_EQ(SCConfigFileData(out.c_str()), MALTOR_ERR_EXCHANGE);  // also when complete
  EXPECT_EQ(read_bytes(out), file);
  frames = SimTest::frames_written();
  ASSERT_EQ(frames.size(), c.requests.size() + 1);
  EXPECT_EQ(code_of(frames[0]), 0x0A);
  for (std::size_t i = 0; i < c.requests.size(); ++i) {
    const Bytes& r = frames[i + 1];
    EXPECT_EQ(r, standard_frame(r[0], 0x1C,
                                {static_cast<std::uint8_t>(c.requests[i]),
                                 static_cast<std::uint8_t>(c.requests[i] >> 8)}));
  }
}

// clang-format off
constexpr std::uint8_t kHigh = MALTOR_SIM_HIGH_SPEED, kFull = MALTOR_SIM_FULL_SPEED;
INSTANTIATE_TEST_SUITE_P(Sizes, ConfigSend, ::testing::Values(
    SendCase{kHigh, 491, {491}, {200, 200, 91}}, SendCase{kHigh, 492, {490, 2}, {200, 200, 92}},
    SendCase{kHigh, 1000, {490, 490, 20}, {200, 200, 200, 200, 200}},
    SendCase{kHigh, 200, {200}, {200}}, SendCase{kHigh, 1, {1}, {1}}, SendCase{kFull, 10, {10}, {10}},
    SendCase{kFull, 43, {43}, {43}}, SendCase{kFull, 44, {42, 2}, {44}},
    SendCase{kHigh, 450, {450}, {200, 200, 50}}, SendCase{kHigh, 400, {400}, {200, 200}},
    SendCase{kFull, 150, {42, 42, 42, 24}, {150}}),
    [](const auto& info) {
      return (info.param.speed == kHigh ? "High" : "Full") + std::to_string(info.param.size);
    });
// clang-format on

struct StatusCase {
  const char* name;
  std::uint32_t size;
  std::int32_t command;  // 0: no fault
  std::uint32_t fault, param;
  std::uint8_t result;
  std::uint16_t status;  // 0xBEEF: left alone
};

class ConfigStatus : public TransferTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ConfigStatus, ComesFromTheEndReplyOnceTheEndFrameWentOut) {
  const StatusCase& c = GetParam();
  const std::int32_t device = plug_and_connect();
  if (c.command != 0) {
    ASSERT_EQ(MaltorSim_InjectFault(device, c.fault, c.command, 1, c.param), 0);
  }
  std::uint16_t status = 0xBEEF;
  EXPECT_EQ(SCReconfigureFile(write_image(image_bytes(c.size)).c_str(), &status), c.result);
  EXPECT_EQ(status, c.status);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Faults, ConfigStatus, ::testing::Values(
    StatusCase{"DeviceStatus", 700, 0x0D, MALTOR_SIM_FAULT_STATUS, 0x5A, MALTOR_OK, 0x5A},
    // The lost end reply leaves the data frame's reply in place: status 0.
    StatusCase{"EndReplyLost", 700, 0x0D, MALTOR_SIM_FAULT_NO_REPLY, 0, 1, 0},
    StatusCase{"EndWriteFails", 700, 0x0D, MALTOR_SIM_FAULT_WRITE_FAILS, 0, 1, 0xBEEF},
    StatusCase{"DataReplyLost", 700, 0x0C, MALTOR_SIM_FAULT_NO_REPLY, 0, 1, 0xBEEF},
    // The virtual device stores at most 65,536 bytes and says so.
    StatusCase{"TooLargeForDevice", 65537, 0, 0, 0, MALTOR_OK, 3}),
    [](const auto& info) { return info.param.name; });
// clang-format on

// A read that cannot start leaves the file alone; one stopped part way keeps
// what came.
TEST_F(TransferTest, FailedReadKeepsWhatCame) {
  const std::string out = write_image({'k', 'e', 'e', 'p'}, "keep.cfg");
  EXPECT_EQ(SCConfigFileData(out.c_str()), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(SCConfigFileData(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_TRUE(SimTest::frames_written().empty());

  const std::int32_t device = plug_and_connect();  // no configuration yet
  EXPECT_EQ(SCConfigFileData(out.c_str()), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(codes_written(), std::vector<std::uint8_t>{0x0A});
  EXPECT_EQ(read_text(out), "keep");

  const Bytes configuration = image_bytes(450, 6);
  ASSERT_EQ(MaltorSim_SetContent(device, MALTOR_SIM_CONFIGURATION, configuration.data(), 450), 0);
  ASSERT_EQ(MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_NO_REPLY, 0x1C, 2, 0), 0);
  MaltorSim_TraceClear();
  EXPECT_EQ(SCConfigFileData(out.c_str()), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(codes_written(), (std::vector<std::uint8_t>{0x0A, 0x1C, 0x1C}));
  EXPECT_EQ(read_bytes(out), Bytes(configuration.begin(), configuration.begin() + 200));
}

}  // namespace
}  // namespace maltor::test
