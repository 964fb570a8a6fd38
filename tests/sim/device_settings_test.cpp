// Clock, hardware settings and the process-data switches: frames, reply positions and failures of
// each, then what the device keeps and the checks that differ.
#include <cstring>

#include "device_op_case.h"

namespace maltor::test {
namespace {

using SettingsOps = OpCaseTest;

TEST_P(SettingsOps, FrameAndDecode) {
  frame_and_decode();
}
TEST_P(SettingsOps, NoDeviceSendsNothing) {
  no_device();
}
TEST_P(SettingsOps, SilentDeviceLeavesOutputsUntouched) {
  silent_device();
}

const OpCase kSettingsCases[] = {
    {"SCGetDateTime",
     [](Outputs& o) { return SCGetDateTime(o.at<uint32_t>(0)); },
     standard_frame(0, 0x11),
     {{0, 5, 4}}},
    {"SCSetDateTime",
     [](Outputs&) { return SCSetDateTime(1000); },
     {0x00, 0x0A, 0x00, 0x12, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x07},
     {}},
    {"SCGetHWSettings",
     [](Outputs& o) { return SCGetHWSettings(o.at<uint8_t>(0)); },
     standard_frame(0, 0x22),
     {{0, 5, 128}},
     true,
     1000},
    {"SCSetHWSettings",
     [](Outputs&) {
       const uint8_t data[3] = {'x', 'y', 'z'};
       return SCSetHWSettings(1, 2, 3, data);
     },
     standard_frame(0, 0x21, {1, 2, 3, 'x', 'y', 'z'}),
     {},
     true,
     1000},
    {"GetSingleHWSetting",
     [](Outputs& o) { return GetSingleHWSetting(0x0102, o.at<uint16_t>(0)); },
     standard_frame(0, 0x2D, {0x02, 0x01}),
     {{0, 5, 2}}},
    {"SCSetHWSettingsEmpty",
     [](Outputs&) { return SCSetHWSettings(7, 8, 0, nullptr); },
     {0x00, 0x09, 0x00, 0x21, 0x00, 0x07, 0x08, 0x00, 0x39},
     {},
     true,
     1000},
    {"SetSingleHWSetting",
     [](Outputs&) { return SetSingleHWSetting(0x0102, 0xBEEF); },
     standard_frame(0, 0x2C, {0x02, 0x01, 0xEF, 0xBE}),
     {}},
    {"StoreEEPROMHWSettings",
     [](Outputs&) { return StoreEEPROMHWSettings(0x11, 0x22); },
     standard_frame(0, 0x24, {0x11, 0x22}),
     {},
     true,
     1000},
    {"SCUSBStartProcessData",
     [](Outputs&) { return SCUSBStartProcessData(); },
     standard_frame(0, 0x2F),
     {}},
    {"SCUSBStopProcessData",
     [](Outputs&) { return SCUSBStopProcessData(); },
     standard_frame(0, 0x30),
     {}},
};

INSTANTIATE_TEST_SUITE_P(Device, SettingsOps, ::testing::ValuesIn(kSettingsCases), case_name);

using Settings = DeviceTest;

TEST_F(Settings, SetClockIsReadBackAndAdvancesWithTheVirtualClock) {
  plug_and_connect();
  ASSERT_EQ(SCSetDateTime(1'000'000), MALTOR_OK);
  uint32_t clock = 0;
  ASSERT_EQ(SCGetDateTime(&clock), MALTOR_OK);
  EXPECT_EQ(clock, 1'000'000u);
  MaltorSim_ClockAdvance(5000);
  EXPECT_GE(GetDateTime(), 1'000'005u);
  EXPECT_LE(GetDateTime(), 1'000'006u);
}

TEST_F(Settings, GetDateTimeGivesZeroWhenTheClockCannotBeRead) {
  EXPECT_EQ(GetDateTime(), 0u);
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x11, 1, 0), 0);
  EXPECT_EQ(GetDateTime(), 0u);
  EXPECT_NE(GetDateTime(), 0u);
}

TEST_F(Settings, SingleSettingsAreWordsOfTheBlock) {
  plug_and_connect();
  ASSERT_EQ(SetSingleHWSetting(3, 0xBEEF), MALTOR_OK);
  uint16_t value = 0;
  ASSERT_EQ(GetSingleHWSetting(3, &value), MALTOR_OK);
  EXPECT_EQ(value, 0xBEEF);
  std::uint8_t block[128];
  ASSERT_EQ(SCGetHWSettings(block), MALTOR_OK);
  EXPECT_EQ(block[6], 0xEF);
  EXPECT_EQ(block[7], 0xBE);

  // A setting the device does not have reads as 0xFFFF and ignores writes.
  ASSERT_EQ(SetSingleHWSetting(0x0102, 0x1234), MALTOR_OK);
  ASSERT_EQ(GetSingleHWSetting(0x0102, &value), MALTOR_OK);
  EXPECT_EQ(value, 0xFFFF);
}

TEST_F(Settings, WrittenBlockIsReadBackAndStoredToEeprom) {
  plug_and_connect();
  std::uint8_t written[128];
  for (int i = 0; i < 128; ++i) written[i] = static_cast<std::uint8_t>(0x80 + i);
  ASSERT_EQ(SCSetHWSettings(0, 0, 128, written), MALTOR_OK);
  std::uint8_t block[128];
  ASSERT_EQ(SCGetHWSettings(block), MALTOR_OK);
  EXPECT_EQ(Bytes(block, block + 128), Bytes(written, written + 128));

  ASSERT_EQ(StoreEEPROMHWSettings(10, 0), MALTOR_OK);
  std::uint8_t page[64];
  ASSERT_EQ(GetEEPROMPageFormat(10, page), MALTOR_OK);
  EXPECT_EQ(Bytes(page, page + 64), Bytes(written, written + 64));
  ASSERT_EQ(GetEEPROMPageFormat(11, page), MALTOR_OK);
  EXPECT_EQ(Bytes(page, page + 64), Bytes(written + 64, written + 128));
}

// The store returns the device's status. It clears the reply's first bytes
// before reading: a reply too short to reach its status byte reads as done,
// not as the earlier reply's byte 5.
TEST_F(Settings, StoreReturnsTheDeviceStatusOrDone) {
  const std::int32_t id = plug_and_connect();
  EXPECT_EQ(StoreEEPROMHWSettings(0xEF, 0), 3);  // the second page is locked
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_STATUS, 0x24, 1, 2), 0);
  EXPECT_EQ(StoreEEPROMHWSettings(1, 0), 2);

  std::uint8_t serial[128];
  ASSERT_EQ(SCGetSerialNumber(serial), MALTOR_OK);
  ASSERT_NE(serial[0], 0);
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_SHORT_REPLY, 0x24, 1, 4), 0);
  EXPECT_EQ(StoreEEPROMHWSettings(1, 0), MALTOR_OK);
}

// Both commands that check the echo refuse a reply to another command.
TEST_F(Settings, EchoCheckedCommandsRefuseAForeignReply) {
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_WRONG_ECHO, 0x21, 1, 0), 0);
  EXPECT_EQ(SCSetHWSettings(0, 0, 0, nullptr), MALTOR_ERR_EXCHANGE);
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_WRONG_ECHO, 0x24, 1, 0), 0);
  EXPECT_EQ(StoreEEPROMHWSettings(0, 0), MALTOR_ERR_EXCHANGE);
}

}  // namespace
}  // namespace maltor::test
