// SendTaloqConfiguration: announce and block frames, results and the
// configuration log beside the executable.
#include "platform/os.h"
#include "update_test_util.h"

namespace maltor::test {
namespace {

using GatewayConfig = UpdateTest;

std::filesystem::path logs_folder() {
  char folder[4096];
  EXPECT_TRUE(platform::executable_folder(folder, sizeof folder));
  return std::filesystem::path(folder) / "logs";
}

std::vector<std::size_t> frame_lengths() {
  std::vector<std::size_t> out;
  for (const Bytes& frame : command_frames()) out.push_back(frame.size());
  return out;
}

std::string account_start() {
  return "\r\r\n" + std::string(93, '*') + "\r\r\n" +
         "Varden Gateway re-configuration started at " + kStartTime + "\r\n";
}

struct ConfigCase {
  const char* name;
  std::uint8_t kind;  // 0: no device open
  std::uint32_t length;
  std::uint32_t frame;  // MALTOR_SIM_FRAME_CONFIG_*, 0 for none
  std::uint32_t nth;
  std::uint32_t action;
  std::uint8_t result;
  std::vector<std::size_t> frames;
  std::string lines;  // after the first three lines of the account
};

const std::vector<ConfigCase>& cases() {
  static const std::vector<ConfigCase> all = {
      {"Empty",
       2,
       0,
       0,
       0,
       0,
       MALTOR_OK,
       {10},
       "Configuration size 0   preparation - OK\r\r\nSuccesfully sent 0 bytes    "},
      {"OneFullBlock",
       2,
       16'378,
       0,
       0,
       0,
       MALTOR_OK,
       {10, 16384},
       "Configuration size 16378   preparation - OK\r\r\nSuccesfully sent 16378 bytes    "},
      {"FullAndOneByte",
       2,
       16'379,
       0,
       0,
       0,
       MALTOR_OK,
       {10, 16384, 7},
       "Configuration size 16379   preparation - OK\r\r\nSuccesfully sent 16379 bytes    "},
      {"TwoFullAndPartialKind1",
       1,
       40'000,
       0,
       0,
       0,
       MALTOR_OK,
       {10, 16384, 16384, 7250},
       "Configuration size 40000   preparation - OK\r\r\nSuccesfully sent 40000 bytes    "},
      {"PartialRefused",
       1,
       40'000,
       MALTOR_SIM_FRAME_CONFIG_BLOCK,
       3,
       MALTOR_SIM_UPDATE_REFUSE,
       MALTOR_ERR_EXCHANGE,
       {10, 16384, 16384, 7250},
       "Configuration size 40000   preparation - OK\r\r\nBlock 3 bytes    7244  CRC - "
       "Failed\r\r\n"},
      {"SecondFullRefused",
       1,
       40'000,
       MALTOR_SIM_FRAME_CONFIG_BLOCK,
       2,
       MALTOR_SIM_UPDATE_REFUSE,
       MALTOR_ERR_EXCHANGE,
       {10, 16384, 16384},
       "Configuration size 40000   preparation - OK\r\r\nBlock 2 bytes    16384  CRC - "
       "Failed\r\r\n"},
      {"FirstFullUnanswered",
       2,
       40'000,
       MALTOR_SIM_FRAME_CONFIG_BLOCK,
       1,
       MALTOR_SIM_UPDATE_SILENT,
       MALTOR_ERR_EXCHANGE,
       {10, 16384},
       "Configuration size 40000   preparation - OK\r\r\nBlock 1 bytes    16384  CRC - "
       "Failed\r\r\n"},
      {"AnnounceRefused",
       1,
       40'000,
       MALTOR_SIM_FRAME_CONFIG_ANNOUNCE,
       1,
       MALTOR_SIM_UPDATE_REFUSE,
       MALTOR_ERR_EXCHANGE,
       {10},
       "Configuration size 40000   preparation - Failed\r\r\n"},
      {"NoDevice",
       0,
       40'000,
       0,
       0,
       0,
       MALTOR_ERR_EXCHANGE,
       {},
       "Configuration size 40000   preparation - Failed\r\r\n"},
  };
  return all;
}

// Every case that writes the configuration log runs in this one test: the
// log's place is fixed, and tests run side by side in separate processes.
TEST_F(GatewayConfig, FramesResultsAndLog) {
  const std::filesystem::path logs = logs_folder();
  const std::filesystem::path log = logs / "Configuration.log";
  std::filesystem::create_directories(logs);

  for (const ConfigCase& c : cases()) {
    SCOPED_TRACE(c.name);
    SimTest::SetUp();
    std::filesystem::remove(log);
    set_wall_clock();
    const std::int32_t device = MaltorSim_Plug(c.kind == 0 ? 2 : c.kind, MALTOR_SIM_HIGH_SPEED, -1);
    if (c.kind != 0) {
      ASSERT_NE(DeviceIsReady(), 0);
    }
    MaltorSim_TraceClear();
    if (c.frame != 0) {
      ASSERT_EQ(MaltorSim_UpdateFault(device, c.frame, c.nth, c.action), 0);
    }
    const Bytes image = image_bytes(c.length);

    EXPECT_EQ(SendTaloqConfiguration(nullptr, c.length, c.length == 0 ? nullptr : image.data()),
              c.result);
    EXPECT_EQ(frame_lengths(), c.frames);
    EXPECT_EQ(read_text(log), account_start() + c.lines);
    const std::vector<Bytes> frames = command_frames();
    for (const Bytes& frame : frames) {
      // Never a lead-in, whatever the kind.
      ASSERT_EQ(frame[0] | (frame[1] << 8), static_cast<int>(frame.size()));
    }
    const MaltorSimImageInfo info = image_info(device, MALTOR_SIM_IMAGE_CONFIGURATION);
    EXPECT_EQ(info.errors, 0u);
    if (c.result == MALTOR_OK) {
      EXPECT_EQ(info.received, c.length);
      EXPECT_EQ(info.hash, fnv1a(image));
      EXPECT_EQ(info.finished, 1u);
    }
  }

  SCOPED_TRACE("announce bytes, two transfers in a row");
  SimTest::SetUp();
  std::filesystem::remove(log);
  set_wall_clock();
  plug_and_connect(2);
  const Bytes image = image_bytes(40'000);
  ASSERT_EQ(SendTaloqConfiguration(nullptr, 40'000, image.data()), MALTOR_OK);
  EXPECT_EQ(command_frames().front(),
            (Bytes{0x0A, 0x00, 0x10, 0x12, 0x40, 0x9C, 0x00, 0x00, 0xFE, 0x00}));
  ASSERT_EQ(SendTaloqConfiguration(nullptr, 40'000, image.data()), MALTOR_OK);
  const std::string account = account_start() +
                              "Configuration size 40000   preparation - OK\r\r\n"
                              "Succesfully sent 40000 bytes    ";
  EXPECT_EQ(read_text(log), account + account);

  SCOPED_TRACE("refused while an update runs");
  const std::string before = read_text(log);
  MaltorSim_TraceClear();
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);  // holds the update at its first block
  ASSERT_EQ(UpdateLoggerFirmware(write_image(image_bytes(100)).c_str(), log_path_.c_str()),
            MALTOR_OK);
  EXPECT_EQ(SendTaloqConfiguration(nullptr, 40'000, image.data()), MALTOR_ERR_UPDATE_RUNNING);
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
  wait_for_update();
  EXPECT_EQ(read_text(log), before);
  for (const Bytes& frame : command_frames()) EXPECT_NE(frame[0], 0x0A);  // only logger frames

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
  EXPECT_TRUE(command_frames().empty());
}

}  // namespace
}  // namespace maltor::test
