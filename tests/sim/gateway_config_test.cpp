// SendTaloqConfiguration: announce and block frames, results and the
// configuration log beside the executable.
#include "platform/os.h"
#include "update_test_util.h"

namespace maltor::test {
namespace {

using GatewayConfig = UpdateTest;

// Sizes of the frames written; each begins with its own size, never a lead-in.
std::vector<std::size_t> frame_lengths() {
  std::vector<std::size_t> out;
  for (const Bytes& frame : SimTest::frames_written()) {
    EXPECT_EQ(frame[0] | (frame[1] << 8), static_cast<int>(frame.size()));
    out.push_back(frame.size());
  }
  return out;
}

// One account in the configuration log: title, preparation line, then `rest`.
std::string account(std::uint32_t size, bool prepared, const std::string& rest) {
  return kAccountRule + "Varden Gateway re-configuration started at " + kStartTime + "\r\n" +
         "Configuration size " + std::to_string(size) + "   preparation - " +
         (prepared ? "OK" : "Failed") + "\r\r\n" + rest;
}

std::string sent(std::uint32_t size) {
  return "Succesfully sent " + std::to_string(size) + " bytes    ";
}

constexpr std::uint32_t kBlock = MALTOR_SIM_FRAME_CONFIG_BLOCK;
constexpr std::uint32_t kRefuse = MALTOR_SIM_UPDATE_REFUSE;
constexpr std::uint8_t kFail = MALTOR_ERR_EXCHANGE;

struct ConfigCase {
  const char* name;
  std::uint8_t kind;  // 0: no device open
  std::uint32_t length;
  std::uint32_t fault[3];  // frame, nth, action; frame 0 for none
  std::uint8_t result;
  std::vector<std::size_t> frames;
  bool prepared;
  std::string rest;  // the log after the preparation line
};

// clang-format off
const ConfigCase kCases[] = {
    {"Empty", 2, 0, {}, MALTOR_OK, {10}, true, sent(0)},
    {"OneFullBlock", 2, 16'378, {}, MALTOR_OK, {10, 16384}, true, sent(16'378)},
    {"FullAndOneByte", 2, 16'379, {}, MALTOR_OK, {10, 16384, 7}, true, sent(16'379)},
    {"TwoFullAndPartialKind1", 1, 40'000, {}, MALTOR_OK, {10, 16384, 16384, 7250}, true,
     sent(40'000)},
    {"PartialRefused", 1, 40'000, {kBlock, 3, kRefuse}, kFail, {10, 16384, 16384, 7250}, true,
     "Block 3 bytes    7244  CRC - Failed\r\r\n"},
    {"SecondFullRefused", 1, 40'000, {kBlock, 2, kRefuse}, kFail, {10, 16384, 16384}, true,
     "Block 2 bytes    16384  CRC - Failed\r\r\n"},
    {"FirstFullUnanswered", 2, 40'000, {kBlock, 1, MALTOR_SIM_UPDATE_SILENT}, kFail, {10, 16384},
     true, "Block 1 bytes    16384  CRC - Failed\r\r\n"},
    {"AnnounceRefused", 1, 40'000, {MALTOR_SIM_FRAME_CONFIG_ANNOUNCE, 1, kRefuse}, kFail, {10},
     false, ""},
    {"NoDevice", 0, 40'000, {}, kFail, {}, false, ""}};
// clang-format on

// Every case that writes the configuration log runs in this one test: the
// log's place is fixed, and tests run side by side in separate processes.
TEST_F(GatewayConfig, FramesResultsAndLog) {
  char folder[4096];
  ASSERT_TRUE(platform::executable_folder(folder, sizeof folder));
  const std::filesystem::path logs = std::filesystem::path(folder) / "logs";
  const std::filesystem::path log = logs / "Configuration.log";
  std::filesystem::create_directories(logs);
  const auto fresh = [&] {
    SimTest::SetUp();
    std::filesystem::remove(log);
    set_wall_clock();
  };

  for (const ConfigCase& c : kCases) {
    SCOPED_TRACE(c.name);
    fresh();
    const std::int32_t device = MaltorSim_Plug(c.kind == 0 ? 2 : c.kind, MALTOR_SIM_HIGH_SPEED, -1);
    if (c.kind != 0) {
      ASSERT_NE(DeviceIsReady(), 0);
    }
    MaltorSim_TraceClear();
    if (c.fault[0] != 0) {
      ASSERT_EQ(MaltorSim_UpdateFault(device, c.fault[0], c.fault[1], c.fault[2]), 0);
    }
    const Bytes image = image_bytes(c.length);
    EXPECT_EQ(SendTaloqConfiguration(nullptr, c.length, c.length == 0 ? nullptr : image.data()),
              c.result);
    EXPECT_EQ(frame_lengths(), c.frames);
    EXPECT_EQ(read_text(log), account(c.length, c.prepared, c.rest));
    const MaltorSimImageInfo info = image_info(device, MALTOR_SIM_IMAGE_CONFIGURATION);
    EXPECT_EQ(info.errors, 0u);
    if (c.result == MALTOR_OK) {
      EXPECT_EQ(info.received, c.length);
      EXPECT_EQ(info.hash, fnv1a(image));
      EXPECT_EQ(info.finished, 1u);
    }
  }

  SCOPED_TRACE("announce bytes, two transfers in a row");
  fresh();
  plug_and_connect(2);
  const Bytes image = image_bytes(40'000);
  ASSERT_EQ(SendTaloqConfiguration(nullptr, 40'000, image.data()), MALTOR_OK);
  EXPECT_EQ(SimTest::frames_written().front(),
            (Bytes{0x0A, 0x00, 0x10, 0x12, 0x40, 0x9C, 0x00, 0x00, 0xFE, 0x00}));
  ASSERT_EQ(SendTaloqConfiguration(nullptr, 40'000, image.data()), MALTOR_OK);
  const std::string twice = account(40'000, true, sent(40'000));
  EXPECT_EQ(read_text(log), twice + twice);

  SCOPED_TRACE("refused while an update runs");
  MaltorSim_TraceClear();
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);  // holds the update at its first block
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(100)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  EXPECT_EQ(SendTaloqConfiguration(nullptr, 40'000, image.data()), MALTOR_ERR_UPDATE_RUNNING);
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
  wait_for_update();
  EXPECT_EQ(read_text(log), twice + twice);
  for (const Bytes& frame : SimTest::frames_written())
    EXPECT_NE(frame[0], 0x0A);  // only logger frames

  SCOPED_TRACE("no logs folder");
  std::filesystem::remove_all(logs);
  SimTest::SetUp();
  plug_and_connect(2);
  EXPECT_EQ(SendTaloqConfiguration(nullptr, 40'000, image.data()), MALTOR_OK);
  EXPECT_EQ(frame_lengths(), (std::vector<std::size_t>{10, 16384, 16384, 7250}));
  EXPECT_FALSE(std::filesystem::exists(logs));
}

TEST_F(GatewayConfig, BadArgumentsAreRefusedBeforeAnythingIsSent) {
  plug_and_connect(2);
  const std::uint8_t byte = 0;
  EXPECT_EQ(SendTaloqConfiguration(nullptr, 5, nullptr), MALTOR_ERR_ARGUMENT);
  // 65,536 blocks of 16,378 bytes overflow the 16-bit block count.
  EXPECT_EQ(SendTaloqConfiguration(nullptr, 65536u * 16378u, &byte), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(SendTaloqConfiguration(nullptr, 0xFFFFFFFFu, &byte), MALTOR_ERR_ARGUMENT);
  EXPECT_TRUE(SimTest::frames_written().empty());
}

}  // namespace
}  // namespace maltor::test
