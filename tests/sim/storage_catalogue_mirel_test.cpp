// The log-section (Mirel) queries and the Mirel frame they share with the
// log-file download.
#include <cstring>

#include "device_op_case.h"

namespace maltor::test {
namespace {

using MirelOps = OpCaseTest;

TEST_P(MirelOps, FrameAndDecode) {
  frame_and_decode();
}
TEST_P(MirelOps, NoDeviceSendsNothing) {
  no_device();
}
TEST_P(MirelOps, SilentDeviceLeavesOutputsUntouched) {
  silent_device();
}

// The checksum leaves the length bytes out: 1 for command 1, not 10.
const OpCase kMirelCases[] = {
    {"MirelGetLogCount",
     [](Outputs& o) { return MirelGetLogCount(o.at<uint16_t>(0), o.at<uint16_t>(2)); },
     {0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x01, 0x00, 0x01},
     {{0, 5, 2}, {2, 7, 2}},
     false},
    {"MirelGetFirstLogSection",
     [](Outputs& o) { return MirelGetFirstLogSection(o.at<uint32_t>(0), o.at<uint32_t>(4)); },
     {0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x02, 0x00, 0x02},
     {{0, 5, 4}, {4, 9, 4}},
     false},
    {"MirelGetActiveLogSection",
     [](Outputs& o) {
       return MirelGetActiveLogSection(o.at<uint32_t>(0), o.at<uint32_t>(4), o.at<uint32_t>(8),
                                       o.at<uint32_t>(12));
     },
     {0x00, 0x00, 0x00, 0x00, 0x09, 0x00, 0x03, 0x00, 0x03},
     {{0, 5, 4}, {4, 9, 4}, {8, 13, 4}, {12, 17, 4}},
     false},
    {"MirelGetDescriptorInfo",
     [](Outputs& o) { return MirelGetDescriptorInfo(1, o.at<uint8_t>(0)); },
     {0x00, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05},
     {{0, 5, 32}},
     false},
};

INSTANTIATE_TEST_SUITE_P(Storage, MirelOps, ::testing::ValuesIn(kMirelCases), case_name);

using Mirel = DeviceTest;

TEST_F(Mirel, DescriptorIndexIsLittleEndianAndOutsideTheSum) {
  plug_and_connect();
  std::uint8_t record[32];
  MirelGetDescriptorInfo(258, record);
  EXPECT_EQ(frames_written(), std::vector<Bytes>{(Bytes{0x00, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x04,
                                                        0x00, 0x02, 0x01, 0x00, 0x00, 0x07})});
}

TEST_F(Mirel, NonzeroStatusIsReturnedAndNothingWritten) {
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_STATUS, MALTOR_SIM_ANY_COMMAND, 1, 3), 0);
  uint16_t first = 0xEEEE, second = 0xEEEE;
  EXPECT_EQ(MirelGetLogCount(&first, &second), 3);
  EXPECT_EQ(first, 0xEEEE);
  EXPECT_EQ(second, 0xEEEE);
}

// The device's log sections agree with each other: the counts, the first and
// the active section, and the descriptors that exist.
TEST_F(Mirel, SectionsAgreeWithTheirDescriptors) {
  plug_and_connect();
  uint16_t logs = 0, sections = 0;
  ASSERT_EQ(MirelGetLogCount(&logs, &sections), MALTOR_OK);
  ASSERT_GT(logs, 1);
  uint32_t first[2];
  ASSERT_EQ(MirelGetFirstLogSection(&first[0], &first[1]), MALTOR_OK);
  uint32_t active[4];
  ASSERT_EQ(MirelGetActiveLogSection(&active[0], &active[1], &active[2], &active[3]), MALTOR_OK);
  EXPECT_EQ(active[0] - first[0] + 1, sections);

  auto section_of = [](const std::uint8_t* record) {
    uint32_t section;
    std::memcpy(&section, record + 4, 4);
    return section;
  };
  std::uint8_t record[32];
  ASSERT_EQ(MirelGetDescriptorInfo(0, record), MALTOR_OK);
  EXPECT_EQ(section_of(record), first[0]);
  ASSERT_EQ(MirelGetDescriptorInfo(logs - 1u, record), MALTOR_OK);
  EXPECT_EQ(section_of(record), active[0]);

  // One past the last descriptor: the device's status, the record untouched.
  std::memset(record, 0xEE, sizeof record);
  EXPECT_EQ(MirelGetDescriptorInfo(logs, record), 2);
  EXPECT_EQ(Bytes(record, record + 32), Bytes(32, 0xEE));
}

}  // namespace
}  // namespace maltor::test
