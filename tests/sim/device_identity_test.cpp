// Identity and version queries: frames, reply positions and failures of each,
// then the cases where they differ.
#include <cstring>

#include "device_op_case.h"

namespace maltor::test {
namespace {

using IdentityOps = OpCaseTest;

TEST_P(IdentityOps, FrameAndDecode) {
  frame_and_decode();
}
TEST_P(IdentityOps, NoDeviceSendsNothing) {
  no_device();
}
TEST_P(IdentityOps, SilentDeviceLeavesOutputsUntouched) {
  silent_device();
}

const OpCase kIdentityCases[] = {
    {"SCGetFirmwareVersion",
     [](Outputs& o) {
       return SCGetFirmwareVersion(o.at<uint16_t>(0), o.at<uint8_t>(2), o.at<uint8_t>(3),
                                   o.at<uint8_t>(4));
     },
     standard_frame(0, 0x02),
     {{0, 5, 2}, {2, 7, 1}, {3, 8, 1}, {4, 9, 1}}},
    {"SCGetSerialNumber",
     [](Outputs& o) { return SCGetSerialNumber(o.at<uint8_t>(0)); },
     standard_frame(0, 0x15),
     {{0, 5, 128}},
     true,
     4000},
    {"SCSetSerialNumber",
     [](Outputs&) {
       const uint8_t serial[3] = {'A', 'B', 'C'};
       return SCSetSerialNumber(3, serial);
     },
     standard_frame(0, 0x16, {3, 'A', 'B', 'C'}),
     {},
     true,
     4000},
    {"GetMicroType",
     [](Outputs& o) { return GetMicroType(o.at<uint8_t>(0)); },
     standard_frame(0, 0x2E),
     {{0, 5, 1}}},
    // The info value is reply byte 6 widened: its upper three bytes are 0.
    {"GetMaltorInfo",
     [](Outputs& o) { return GetMaltorInfo(o.at<uint8_t>(0), o.at<uint32_t>(4)); },
     standard_frame(0, 0x27),
     {{0, 5, 1}, {4, 6, 1}, {5, kZeros, 3}},
     true,
     4000},
    {"SCGetMMCInfo",
     [](Outputs& o) { return SCGetMMCInfo(o.at<uint8_t>(0)); },
     standard_frame(0, 0x1B),
     {{0, 5, 17}}},
    {"SCUSBGetConfigInfo",
     [](Outputs& o) { return SCUSBGetConfigInfo(o.at<uint8_t>(8), o.at<uint32_t>(0)); },
     standard_frame(0, 0x0A),
     {{8, 5, 16}, {0, 21, 4}}},
    {"GetConfigurationInfo",
     [](Outputs& o) { return GetConfigurationInfo(o.at<uint8_t>(0)); },
     {0x04, 0x00, 0x14, 0x00, 0x14},
     {{0, 3, 26}},
     false},
    {"GetEEPROMPageFormat",
     [](Outputs& o) { return GetEEPROMPageFormat(7, o.at<uint8_t>(0)); },
     standard_frame(0, 0x23, {7}),
     {{0, 5, 64}}},
    // Kind 1: a 5-character text; the bytes behind its terminator are kept
    // and byte 13 is not written.
    {"GetFirmwareVersionKind1",
     [](Outputs& o) { return GetFirmwareVersion(o.at<char>(0)); },
     {0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0xDC, 0x00, 0xDC},
     {{0, 9, 5}, {5, kZeros, 1}, {6, 15, 7}},
     false,
     5000,
     1},
    {"GetFirmwareVersionKind2",
     [](Outputs& o) { return GetFirmwareVersion(o.at<char>(0)); },
     {0x04, 0xDC, 0x00, 0x00},
     {{0, 9, 13}, {13, kZeros, 1}},
     false,
     5000,
     2},
    {"GetFirmwareVersionKind3",
     [](Outputs& o) { return GetFirmwareVersion(o.at<char>(0)); },
     {0x04, 0xDC, 0x00, 0x00},
     {{0, 9, 13}, {13, kZeros, 1}},
     false,
     5000,
     3},
    {"GetFirmwareVersionKind5",
     [](Outputs& o) { return GetFirmwareVersion(o.at<char>(0)); },
     {0x04, 0xDC, 0x00, 0x00},
     {{0, 9, 13}, {13, kZeros, 1}},
     false,
     5000,
     5},
};

INSTANTIATE_TEST_SUITE_P(Device, IdentityOps, ::testing::ValuesIn(kIdentityCases), case_name);

using Identity = DeviceTest;

TEST_F(Identity, SetSerialNumberWritesTheWholeLengthRange) {
  plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  std::uint8_t data[255];
  for (int i = 0; i < 255; ++i) data[i] = static_cast<std::uint8_t>(i + 1);

  ASSERT_EQ(SCSetSerialNumber(0, nullptr), MALTOR_OK);
  ASSERT_EQ(SCSetSerialNumber(255, data), MALTOR_OK);
  const auto frames = frames_written();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], stamped({0x00, 0x07, 0x00, 0x16, 0x00, 0x00, 0x1D}, sequence));
  Bytes payload{255};
  payload.insert(payload.end(), data, data + 255);
  EXPECT_EQ(frames[1], standard_frame(sequence + 1, 0x16, payload));
  ASSERT_EQ(frames[1].size(), 262u);
  EXPECT_EQ(frames[1][1], 0x06);
  EXPECT_EQ(frames[1][2], 0x01);
}

// The commands that check the reply's sequence byte refuse a reply to another
// request and leave their outputs alone.
TEST_F(Identity, SequenceCheckedQueriesRefuseAForeignReply) {
  const std::int32_t id = plug_and_connect();
  const std::function<std::uint8_t(Outputs&)> calls[] = {
      [](Outputs& o) { return SCGetSerialNumber(o.at<uint8_t>(0)); },
      [](Outputs&) { return SCSetSerialNumber(0, nullptr); },
      [](Outputs& o) { return GetMaltorInfo(o.at<uint8_t>(0), o.at<uint32_t>(4)); },
      [](Outputs& o) { return GetEEPROMPageFormat(1, o.at<uint8_t>(0)); },
      [](Outputs& o) { return SCGetHWSettings(o.at<uint8_t>(0)); },
  };
  for (const auto& call : calls) {
    ASSERT_EQ(
        MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_WRONG_SEQUENCE, MALTOR_SIM_ANY_COMMAND, 1, 0),
        0);
    Outputs out;
    EXPECT_EQ(call(out), MALTOR_ERR_EXCHANGE);
    EXPECT_TRUE(out.untouched());
    Outputs again;
    EXPECT_EQ(call(again), MALTOR_OK);
  }
}

TEST_F(Identity, EepromStatusReplyReturnsItsStatusAndKeepsEarlierReplyBytes) {
  plug_and_connect();
  std::uint8_t full[64];
  ASSERT_EQ(GetEEPROMPageFormat(7, full), MALTOR_OK);
  const Bytes earlier = last_reply();
  ASSERT_EQ(earlier.size(), 70u);

  // Page 0xF3 is locked: the device answers two data bytes, status 3.
  std::uint8_t image[64];
  EXPECT_EQ(GetEEPROMPageFormat(0xF3, image), 3);
  const Bytes status_reply = last_reply();
  ASSERT_EQ(status_reply.size(), 8u);
  EXPECT_EQ(Bytes(image, image + 3), Bytes(status_reply.begin() + 5, status_reply.end()));
  EXPECT_EQ(Bytes(image + 3, image + 64), Bytes(earlier.begin() + 8, earlier.begin() + 69));
}

// Only a reply of exactly 8 bytes is a status reply.
TEST_F(Identity, OtherEepromRepliesReturnDoneWhateverTheirFirstByte) {
  const std::int32_t id = plug_and_connect();
  std::uint8_t image[64];
  ASSERT_EQ(GetEEPROMPageFormat(3, image), MALTOR_OK);
  EXPECT_EQ(last_reply()[5], 3);  // the page's first byte looks like a status
  for (const std::uint32_t length : {7u, 9u, 69u}) {
    ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_SHORT_REPLY, 0x23, 1, length), 0);
    EXPECT_EQ(GetEEPROMPageFormat(3, image), MALTOR_OK) << length;
    EXPECT_EQ(last_reply().size(), length);
  }
}

}  // namespace
}  // namespace maltor::test
