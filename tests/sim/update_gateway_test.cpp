// The gateway firmware update: gateway frames, block splits, progress
// values, log lines and the completion tail.
#include <algorithm>

#include "update_test_util.h"

namespace maltor::test {
namespace {

using GatewayUpdate = UpdateTest;

const Bytes kLeadIn = {0, 0, 0, 0};

// Payload lengths of the firmware block frames on the wire (kind 1 frames
// start with the lead-in).
std::vector<std::size_t> block_payloads(bool kind1) {
  std::vector<std::size_t> out;
  for (const Bytes& frame : SimTest::frames_written()) {
    const Bytes body(frame.begin() + (kind1 ? 4 : 0), frame.end());
    if (body.size() >= 6 && body[2] == 0x13 && body[3] == 0x00) out.push_back(body.size() - 6);
  }
  return out;
}

struct SplitCase {
  std::size_t size;
  std::uint8_t kind;
  std::vector<std::size_t> blocks;
  std::vector<std::uint32_t> progress;
};

class GatewaySplits : public UpdateTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(GatewaySplits, BlocksProgressAndImage) {
  const SplitCase& c = GetParam();
  const bool kind1 = c.kind == 1;
  const std::int32_t device = plug_and_connect(c.kind);
  const Bytes image = image_bytes(c.size);
  ASSERT_EQ(UpdateFirmware(write_image(image).c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();

  EXPECT_EQ(block_payloads(kind1), c.blocks);
  EXPECT_EQ(progress(), c.progress);
  for (const Bytes& frame : SimTest::frames_written()) {
    ASSERT_LE(frame.size(), 16384u);
    ASSERT_EQ(std::equal(kLeadIn.begin(), kLeadIn.end(), frame.begin()), kind1);
  }
  const MaltorSimImageInfo info = image_info(device);
  EXPECT_EQ(info.announced, c.size);
  EXPECT_EQ(info.received, c.size);
  EXPECT_EQ(info.hash, fnv1a(image));
  EXPECT_EQ(info.errors, 0u);  // lengths, sums and lead-ins as the gateway expects them
  EXPECT_EQ(info.finished, 1u);
  EXPECT_NE(log_text().find(trailer_text(static_cast<std::uint32_t>(c.size), true)),
            std::string::npos);
}

// 100 full blocks and a last one of 601 bytes: 101 areas, so the progress
// step is 0.
SplitCase hundred_and_one_areas() {
  SplitCase c{1'638'401, 3, std::vector<std::size_t>(100, 16378), std::vector<std::uint32_t>(100)};
  c.blocks.push_back(601);
  c.progress.push_back(100);
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, GatewaySplits,
    ::testing::Values(SplitCase{16'378, 2, {16378}, {100}},
                      SplitCase{16'380, 2, {16378, 2}, {100, 100}},
                      SplitCase{16'375, 1, {16374, 1}, {100, 100}},
                      SplitCase{49'152, 2, {16378, 16378, 16378, 18}, {33, 66, 99, 100}},
                      SplitCase{32'768, 2, {16378, 16378, 12}, {50, 100, 100}},
                      hundred_and_one_areas()),
    [](const auto& info) {
      return "Bytes" + std::to_string(info.param.size) + "Kind" + std::to_string(info.param.kind);
    });

TEST_F(GatewayUpdate, AnnounceBlockAndCompletionBytes) {
  const std::pair<std::uint8_t, std::vector<Bytes>> cases[] = {
      {2,
       {{0x09, 0, 0x10, 0x13, 3, 0, 0, 0, 0x26},
        {0x09, 0, 0x13, 0, 1, 2, 3, 0x19, 0},
        {0x05, 0, 0x61, 0x01, 0x62}}},
      {1,
       {{0, 0, 0, 0, 0x0D, 0, 0x10, 0x13, 3, 0, 0, 0, 0x26},
        {0, 0, 0, 0, 0x0D, 0, 0x13, 0, 1, 2, 3, 0x19, 0},
        {0, 0, 0, 0, 0x09, 0, 0x61, 0x01, 0x62}}},
  };
  for (const auto& [kind, expected] : cases) {
    SCOPED_TRACE(int{kind});
    CloseDevice();
    MaltorSim_Reset();
    plug_and_connect(kind);
    ASSERT_EQ(UpdateFirmware(write_image({1, 2, 3}).c_str(), log_path_.c_str()), MALTOR_OK);
    wait_for_update();
    EXPECT_EQ(SimTest::frames_written(), expected);
  }
}

struct FailureCase {
  const char* name;
  std::uint8_t kind;
  std::uint64_t size;
  std::uint32_t frame;  // MALTOR_SIM_FRAME_*, kNoDevice or kNoFault
  std::uint32_t nth;
  std::uint32_t action;
  std::size_t frames;  // frames written in all
  std::string lines;   // what follows the header
  std::vector<std::uint32_t> progress = {};
};

class GatewayFailures : public UpdateTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(GatewayFailures, EndTheTransferWithTheirLines) {
  const FailureCase& c = GetParam();
  const std::string path = run_update(false, c.kind, c.size, c.frame, c.nth, c.action);
  EXPECT_EQ(log_text(), header_text(kGatewayTitle, c.size, path) + c.lines);
  EXPECT_EQ(SimTest::frames_written().size(), c.frames);  // no completion frame after a failure
  EXPECT_EQ(progress(), c.progress);
  EXPECT_EQ(image_info(device_).finished, 0u);
}

const std::string kPrepFailed = "Reprogramming  preparation - Failed\r\r\n";
constexpr std::uint32_t kAnnounce = MALTOR_SIM_FRAME_GATEWAY_ANNOUNCE;
constexpr std::uint32_t kBlock = MALTOR_SIM_FRAME_GATEWAY_BLOCK;
const std::vector<std::uint32_t> kTwoBlocksAcknowledged = {50, 100};

INSTANTIATE_TEST_SUITE_P(
    Cases, GatewayFailures,
    ::testing::Values(
        FailureCase{"AnnounceUnanswered", 2, 32'768, kAnnounce, 1, MALTOR_SIM_UPDATE_SILENT, 1,
                    kPrepFailed},
        FailureCase{"AnnounceRefusedByKind1", 1, 32'768, kAnnounce, 1, MALTOR_SIM_UPDATE_REFUSE, 1,
                    kPrepFailed},
        FailureCase{"NoDevice", 2, 32'768, kNoDevice, 0, 0, 0, kPrepFailed},
        FailureCase{"FirstBlockRefusedByKind1", 1, 32'768, kBlock, 1, MALTOR_SIM_UPDATE_REFUSE, 2,
                    "Block 0 bytes    16374  CRC - Failed\r\r\n" + trailer_text(0, false)},
        FailureCase{"ThirdBlockUnanswered", 2, 32'768, kBlock, 3, MALTOR_SIM_UPDATE_SILENT, 4,
                    "Block 2 bytes    12  CRC - Failed\r\r\n" + trailer_text(32'756, false),
                    kTwoBlocksAcknowledged},
        // Nothing to measure progress by: the image is not announced at all.
        FailureCase{"EmptyImage", 2, 0, kNoFault, 0, 0, 0, kPrepFailed},
        // The first size with 65,536 areas.
        FailureCase{"Image65536Areas", 2, 65536ull * 16384 - 16383, kNoFault, 0, 0, 0,
                    kPrepFailed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GatewayUpdate, ShortKind1ReplyCountsAsAccepted) {
  const std::int32_t device = plug_and_connect(1);
  // The refusal's status byte is cut off with the reply's fifth byte.
  MaltorSim_UpdateFault(device, MALTOR_SIM_FRAME_GATEWAY_BLOCK, 1, MALTOR_SIM_UPDATE_REFUSE);
  MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_SHORT_REPLY, MALTOR_SIM_ANY_COMMAND, 2, 4);
  ASSERT_EQ(UpdateFirmware(write_image(image_bytes(20'000)).c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();
  EXPECT_EQ(block_payloads(true), (std::vector<std::size_t>{16374, 3626}));
  EXPECT_EQ(progress(), (std::vector<std::uint32_t>{50, 100}));
  EXPECT_NE(log_text().find("Firmware update is finished successfully."), std::string::npos);
}

TEST_F(GatewayUpdate, TailReopensTheGatewayWhichThenRestarts) {
  plug_and_connect(1);
  ASSERT_EQ(UpdateFirmware(write_image(image_bytes(5000)).c_str(), log_path_.c_str()), MALTOR_OK);
  wait_for_update();
  EXPECT_TRUE(device_held());  // the tail reopened it to send the completion frame
  MaltorSim_ClockAdvance(100);
  EXPECT_EQ(DeviceIsReady(), 0);  // restarting into its new firmware
  MaltorSim_ClockAdvance(3000);
  EXPECT_NE(DeviceIsReady(), 0);
}

}  // namespace
}  // namespace maltor::test
