// Configuration files to and from the data processor: the send's frames and
// status word, and the read-back's requests and file.
#include <filesystem>

#include "transfer_test_util.h"

namespace maltor::test {
namespace {

using ConfigTest = TransferTest;

Bytes file_bytes(const std::filesystem::path& path) {
  const std::string text = read_text(path);
  return {text.begin(), text.end()};
}

struct SplitCase {
  std::uint8_t speed;
  std::uint32_t size;
  std::vector<std::uint32_t> chunks;
};

class ConfigSplits : public ConfigTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(ConfigSplits, SendOnlyTheFileInChunksOfTheLinkLimit) {
  const SplitCase& c = GetParam();
  const std::int32_t device = plug_and_connect(1, c.speed);
  const Bytes file = image_bytes(c.size, 21);
  std::uint16_t status = 0xBEEF;
  ASSERT_EQ(SCReconfigureFile(write_image(file).c_str(), &status), MALTOR_OK);
  EXPECT_EQ(status, 0);

  const std::vector<Bytes> data = frames_with({0x0C});
  ASSERT_EQ(data.size(), c.chunks.size());
  std::uint32_t offset = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(data_length(data[i]), c.chunks[i]);
    EXPECT_EQ(le(data[i], 1, 2), c.chunks[i] + 12);
    EXPECT_EQ(data_offset(data[i]), offset);
    offset += c.chunks[i];
  }
  const Bytes end = frames_with({0x0D}).at(0);
  EXPECT_EQ(le(end, 5, 2), sum16(file));
  EXPECT_EQ(codes_written().size(), data.size() + 2);

  Bytes stored(c.size);
  EXPECT_EQ(MaltorSim_GetContent(device, MALTOR_SIM_CONFIGURATION, stored.data(), c.size),
            static_cast<std::int32_t>(c.size));
  EXPECT_EQ(stored, file);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ConfigSplits,
                         ::testing::Values(SplitCase{MALTOR_SIM_HIGH_SPEED, 491, {491}},
                                           SplitCase{MALTOR_SIM_HIGH_SPEED, 492, {490, 2}},
                                           SplitCase{MALTOR_SIM_HIGH_SPEED, 1000, {490, 490, 20}},
                                           SplitCase{MALTOR_SIM_HIGH_SPEED, 1, {1}},
                                           SplitCase{MALTOR_SIM_FULL_SPEED, 43, {43}},
                                           SplitCase{MALTOR_SIM_FULL_SPEED, 44, {42, 2}}),
                         [](const auto& info) {
                           return std::string(info.param.speed == MALTOR_SIM_HIGH_SPEED ? "High"
                                                                                        : "Full") +
                                  std::to_string(info.param.size);
                         });

// Frame bytes 9-24 are file bytes 6-21; past a short file's end, zeros.
TEST_F(ConfigTest, StartFrameCarriesFileBytesSixToTwentyOne) {
  plug_and_connect();
  link::g_sequence = 77;
  for (const std::uint32_t size : {64u, 10u}) {
    MaltorSim_TraceClear();
    Bytes file(size);
    for (std::uint32_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(100 + i);
    std::uint16_t status = 0;
    ASSERT_EQ(SCReconfigureFile(write_image(file).c_str(), &status), MALTOR_OK);
    const Bytes start = command_frames().at(0);
    Bytes expected = {start.at(0), 26, 0, 0x0B, 0, static_cast<std::uint8_t>(size), 0, 0, 0};
    for (std::uint32_t i = 6; i < 22; ++i) expected.push_back(i < size ? file[i] : 0);
    expected.push_back(sum8(expected, 25));
    EXPECT_EQ(start, expected) << size;
  }
  EXPECT_EQ(command_frames().at(0)[0], 77 + 3);  // 64 bytes: start, one data frame, end
}

struct StatusCase {
  const char* name;
  std::uint32_t size;
  std::int32_t command;  // 0: no fault
  std::uint32_t fault;
  std::uint32_t param;
  std::uint8_t result;
  std::uint16_t status;  // 0xBEEF: left alone
};

class ConfigStatus : public ConfigTest, public ::testing::WithParamInterface<StatusCase> {};

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

INSTANTIATE_TEST_SUITE_P(
    Faults, ConfigStatus,
    ::testing::Values(
        StatusCase{"DeviceStatus", 700, 0x0D, MALTOR_SIM_FAULT_STATUS, 0x5A, MALTOR_OK, 0x5A},
        // The lost end reply leaves the data frame's reply in place: status 0.
        StatusCase{"EndReplyLost", 700, 0x0D, MALTOR_SIM_FAULT_NO_REPLY, 0, 1, 0},
        StatusCase{"EndWriteFails", 700, 0x0D, MALTOR_SIM_FAULT_WRITE_FAILS, 0, 1, 0xBEEF},
        StatusCase{"DataReplyLost", 700, 0x0C, MALTOR_SIM_FAULT_NO_REPLY, 0, 1, 0xBEEF},
        // The virtual device stores at most 65,536 bytes and says so.
        StatusCase{"TooLargeForDevice", 65537, 0, 0, 0, MALTOR_OK, 3}),
    [](const auto& info) { return info.param.name; });

struct ReadCase {
  std::uint32_t size;
  std::vector<std::uint32_t> requests;
};

class ConfigReads : public ConfigTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ConfigReads, AskInRequestsOfAtMost200Bytes) {
  const ReadCase& c = GetParam();
  const std::int32_t device = plug_and_connect();
  const Bytes configuration = image_bytes(c.size, 5);
  ASSERT_EQ(MaltorSim_SetContent(device, MALTOR_SIM_CONFIGURATION, configuration.data(), c.size),
            0);
  const std::filesystem::path out = dir_ / "read.cfg";
  EXPECT_EQ(SCConfigFileData(out.string().c_str()), MALTOR_ERR_EXCHANGE);  // also when complete

  const std::vector<Bytes> frames = command_frames();
  ASSERT_EQ(frames.size(), c.requests.size() + 1);
  EXPECT_EQ(code_of(frames[0]), 0x0A);
  for (std::size_t i = 0; i < c.requests.size(); ++i) {
    EXPECT_EQ(code_of(frames[i + 1]), 0x1C);
    EXPECT_EQ(frames[i + 1].size(), 8u);
    EXPECT_EQ(le(frames[i + 1], 5, 2), c.requests[i]);
  }
  EXPECT_EQ(file_bytes(out), configuration);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ConfigReads,
                         ::testing::Values(ReadCase{450, {200, 200, 50}}, ReadCase{400, {200, 200}},
                                           ReadCase{200, {200}}, ReadCase{150, {150}},
                                           ReadCase{1, {1}}),
                         [](const auto& info) {
                           return "Bytes" + std::to_string(info.param.size);
                         });

TEST_F(ConfigTest, ReadLeavesTheFileAloneWithoutAConfiguration) {
  const std::string out = write_image({'k', 'e', 'e', 'p'}, "keep.cfg");
  EXPECT_EQ(SCConfigFileData(out.c_str()), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(SCConfigFileData(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_TRUE(command_frames().empty());

  plug_and_connect();  // the virtual device holds no configuration yet
  EXPECT_EQ(SCConfigFileData(out.c_str()), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(codes_written(), std::vector<std::uint8_t>{0x0A});
  EXPECT_EQ(read_text(out), "keep");
}

TEST_F(ConfigTest, ReadStoppedPartWayKeepsWhatCame) {
  const std::int32_t device = plug_and_connect();
  const Bytes configuration = image_bytes(450, 6);
  ASSERT_EQ(MaltorSim_SetContent(device, MALTOR_SIM_CONFIGURATION, configuration.data(), 450), 0);
  ASSERT_EQ(MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_NO_REPLY, 0x1C, 2, 0), 0);
  const std::filesystem::path out = dir_ / "part.cfg";
  EXPECT_EQ(SCConfigFileData(out.string().c_str()), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(codes_written(), (std::vector<std::uint8_t>{0x0A, 0x1C, 0x1C}));
  EXPECT_EQ(file_bytes(out), Bytes(configuration.begin(), configuration.begin() + 200));
}

// What SCReconfigureFile sends, SCConfigFileData reads back unchanged, and
// the device reports the file's size and tag (its bytes 6-21).
TEST_F(ConfigTest, SentConfigurationReadsBackByteForByte) {
  plug_and_connect(1, MALTOR_SIM_FULL_SPEED);
  const Bytes file = image_bytes(1234, 8);
  std::uint16_t status = 0xBEEF;
  ASSERT_EQ(SCReconfigureFile(write_image(file).c_str(), &status), MALTOR_OK);
  EXPECT_EQ(status, 0);

  std::uint8_t tag[16] = {};
  std::uint32_t size = 0;
  ASSERT_EQ(SCUSBGetConfigInfo(tag, &size), MALTOR_OK);
  EXPECT_EQ(size, 1234u);
  EXPECT_EQ(Bytes(tag, tag + 16), Bytes(file.begin() + 6, file.begin() + 22));

  const std::filesystem::path out = dir_ / "back.cfg";
  EXPECT_EQ(SCConfigFileData(out.string().c_str()), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(file_bytes(out), file);
}

}  // namespace
}  // namespace maltor::test
