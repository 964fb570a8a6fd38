// The standard command frame on the wire: sequence byte, length, code,
// payload and additive checksum.
#include "link_test_util.h"

namespace maltor::test {
namespace {

using Frame = LinkTest;

TEST_F(Frame, FirmwareVersionFrameAtCounterFive) {
  plug_and_connect();
  set_sequence(5);
  FirmwareVersion version;
  ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);

  const auto transfers = trace();
  ASSERT_EQ(transfers.size(), 2u);
  EXPECT_EQ(transfers[0].pipe, 0x02);
  EXPECT_EQ(transfers[0].bytes, (Bytes{0x05, 0x06, 0x00, 0x02, 0x00, 0x0D}));
  EXPECT_EQ(transfers[1].pipe, 0x82);
  EXPECT_EQ(transfers[1].length, 15u);
  EXPECT_EQ(transfers[1].bytes[0], 0x05);
  EXPECT_EQ(version, (FirmwareVersion{0x0203, 4, 5, 6}));
  EXPECT_EQ(probe_sequence(), 6);
}

// The counter wraps from 255 to 0, and a failed exchange still uses its number.
TEST_F(Frame, CounterWrapsAfter255AndFailuresUseTheirNumber) {
  const std::int32_t id = plug_and_connect();
  set_sequence(255);
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x02, 1, 0), 0);
  FirmwareVersion version;
  EXPECT_EQ(get_firmware_version(&version), MALTOR_ERR_EXCHANGE);
  ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);

  EXPECT_EQ(frames_written(), (std::vector<Bytes>{{0xFF, 0x06, 0x00, 0x02, 0x00, 0x07},
                                                  {0x00, 0x06, 0x00, 0x02, 0x00, 0x08}}));
  EXPECT_EQ(probe_sequence(), 1);
}

TEST_F(Frame, PayloadAndChecksumModulo256) {
  plug_and_connect();
  set_sequence(0x10);
  const std::uint8_t data[3] = {0xFF, 0xFE, 0x80};
  ASSERT_EQ(SCSetHWSettings(0x81, 0x42, 3, data), MALTOR_OK);
  const Bytes expected{0x10, 0x0C, 0x00, 0x21, 0x00, 0x81, 0x42, 0x03, 0xFF, 0xFE, 0x80, 0x80};
  EXPECT_EQ(frames_written(), std::vector<Bytes>{expected});
}

TEST_F(Frame, LengthFieldTakesTwoBytes) {
  const std::int32_t id = plug_and_connect();
  std::uint8_t data[255];
  for (int i = 0; i < 255; ++i) data[i] = static_cast<std::uint8_t>(i);
  ASSERT_EQ(SCSetHWSettings(1, 2, 255, data), MALTOR_OK);

  const auto frames = frames_written();
  ASSERT_EQ(frames.size(), 1u);
  Bytes payload{1, 2, 255};
  payload.insert(payload.end(), data, data + 255);
  EXPECT_EQ(frames[0], standard_frame(frames[0][0], 0x21, payload));
  ASSERT_EQ(frames[0].size(), 264u);
  EXPECT_EQ(frames[0][1], 0x08);
  EXPECT_EQ(frames[0][2], 0x01);

  // The device took the frame as a whole: the settings it stores are the payload.
  std::uint8_t stored[128];
  ASSERT_EQ(MaltorSim_GetContent(id, MALTOR_SIM_HW_SETTINGS, stored, sizeof stored), 128);
  EXPECT_EQ(Bytes(stored, stored + 128), Bytes(data, data + 128));
}

}  // namespace
}  // namespace maltor::test
