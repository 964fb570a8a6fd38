// The card's catalogue and formatting: frames, reply positions and failures
// of each operation, then the log info word order and the device's catalogue.
#include <cstring>

#include "device_op_case.h"

namespace maltor::test {
namespace {

using CatalogueOps = OpCaseTest;

TEST_P(CatalogueOps, FrameAndDecode) {
  frame_and_decode();
}
TEST_P(CatalogueOps, NoDeviceSendsNothing) {
  no_device();
}
TEST_P(CatalogueOps, SilentDeviceLeavesOutputsUntouched) {
  silent_device();
}

// The log info outputs: seven words at 0–27, the 16-byte block at 28, the
// 255-byte block at 44, the trailing byte at 299. The fifth wire word goes to
// the seventh output, the sixth and seventh to the fifth and sixth.
const std::vector<Copy> kLogInfoCopies = {
    {0, 5, 4},   {4, 9, 4},   {8, 13, 4},   {12, 17, 4},   {16, 25, 4},
    {20, 29, 4}, {24, 21, 4}, {28, 33, 16}, {44, 49, 255}, {299, 304, 1},
};

uint8_t log_info(Outputs& o) {
  return SCSDLogInfo(1, o.at<uint32_t>(0), o.at<uint32_t>(4), o.at<uint32_t>(8), o.at<uint32_t>(12),
                     o.at<uint32_t>(16), o.at<uint32_t>(20), o.at<uint32_t>(24), o.at<uint8_t>(28),
                     o.at<uint8_t>(44), o.at<uint8_t>(299));
}

uint8_t partition_log_info(Outputs& o) {
  return SCPartitionLogInfo(1, 0, o.at<uint32_t>(0), o.at<uint32_t>(4), o.at<uint32_t>(8),
                            o.at<uint32_t>(12), o.at<uint32_t>(16), o.at<uint32_t>(20),
                            o.at<uint32_t>(24), o.at<uint8_t>(28), o.at<uint8_t>(44),
                            o.at<uint8_t>(299));
}

const OpCase kCatalogueCases[] = {
    {"SCSDLogCount",
     [](Outputs& o) { return SCSDLogCount(o.at<uint16_t>(0)); },
     standard_frame(0, 0x0F),
     {{0, 5, 2}}},
    {"SCSDLogInfo", log_info, standard_frame(0, 0x10, {0x01, 0x00}), kLogInfoCopies},
    {"SCPartitionLogCount",
     [](Outputs& o) { return SCPartitionLogCount(1, o.at<uint16_t>(0)); },
     standard_frame(0, 0x25, {0x01}),
     {{0, 5, 2}}},
    {"SCPartitionLogInfo", partition_log_info, standard_frame(0, 0x26, {0x01, 0x00, 0x00}),
     kLogInfoCopies},
    {"SCSDCurrentSector",
     [](Outputs& o) { return SCSDCurrentSector(o.at<uint32_t>(0)); },
     standard_frame(0, 0x17),
     {{0, 5, 4}}},
    {"SCSDFormat",
     [](Outputs& o) { return SCSDFormat(0x1234, o.at<uint16_t>(0)); },
     standard_frame(0, 0x0E, {0x34, 0x12}),
     {{0, 5, 2}}},
    {"SCPartitionFormat",
     [](Outputs& o) {
       const uint8_t layout[2] = {70, 30};
       return SCPartitionFormat(0x0001, 2, layout, o.at<uint16_t>(0));
     },
     standard_frame(0, 0x28, {0x01, 0x00, 0x02, 70, 30}),
     {{0, 5, 2}}},
};

INSTANTIATE_TEST_SUITE_P(Storage, CatalogueOps, ::testing::ValuesIn(kCatalogueCases), case_name);

using Catalogue = DeviceTest;

struct LogInfo {
  uint32_t word[7] = {};
  uint8_t block_16[16] = {};
  uint8_t block_255[255] = {};
  uint8_t trailing = 0;
};

uint8_t read_log_info(uint16_t index, LogInfo* info) {
  uint32_t* w = info->word;
  return SCSDLogInfo(index, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5], &w[6], info->block_16,
                     info->block_255, &info->trailing);
}

uint8_t read_partition_log_info(uint8_t partition, uint16_t index, LogInfo* info) {
  uint32_t* w = info->word;
  return SCPartitionLogInfo(partition, index, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5], &w[6],
                            info->block_16, info->block_255, &info->trailing);
}

bool same(const LogInfo& a, const LogInfo& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(Catalogue, LogCountFrameAtCounter0x10) {
  plug_and_connect();
  link::g_sequence = 0x10;
  uint16_t count = 0;
  ASSERT_EQ(SCSDLogCount(&count), MALTOR_OK);
  EXPECT_EQ(frames_written(), std::vector<Bytes>{(Bytes{0x10, 0x06, 0x00, 0x0F, 0x00, 0x25})});
  EXPECT_EQ(link::g_sequence, 0x11);
}

TEST_F(Catalogue, LogIndexIsSentLeastSignificantByteFirst) {
  plug_and_connect();
  LogInfo info;
  ASSERT_EQ(read_log_info(300, &info), MALTOR_OK);
  const auto frames = frames_written();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][5], 0x2C);
  EXPECT_EQ(frames[0][6], 0x01);
}

// The device's record: number, first and last sector, size, partition, start
// time, duration. The partition (wire word 5) lands in the seventh output.
TEST_F(Catalogue, LogInfoWordsArriveInTheirOutputs) {
  plug_and_connect();
  LogInfo info;
  ASSERT_EQ(read_log_info(2, &info), MALTOR_OK);
  EXPECT_EQ(info.word[0], 2u);
  EXPECT_EQ(info.word[1], 2048u + 2 * 2048);
  EXPECT_EQ(info.word[2], 2048u + 3 * 2048 - 1);
  EXPECT_EQ(info.word[3], 2048u * 512);
  EXPECT_EQ(info.word[6], 1u);     // partition
  EXPECT_EQ(info.word[5], 3600u);  // duration
  LogInfo previous;
  ASSERT_EQ(read_log_info(1, &previous), MALTOR_OK);
  EXPECT_EQ(info.word[4] - previous.word[4], 3600u);  // start times an hour apart
  EXPECT_STREQ(reinterpret_cast<const char*>(info.block_16), "LOG-P1-0000");
  EXPECT_EQ(info.trailing, 1);
}

// Partitions hold their own logs; together they are the card's catalogue.
TEST_F(Catalogue, PartitionsTogetherMakeTheCard) {
  plug_and_connect();
  const uint16_t card = GetLogCount();
  EXPECT_EQ(card, 3);
  uint16_t sum = 0;
  uint16_t index = 0;
  for (uint8_t partition = 0; partition < 4; ++partition) {
    const uint16_t count = GetPartitionLogCount(partition);
    sum = static_cast<uint16_t>(sum + count);
    for (uint16_t i = 0; i < count; ++i, ++index) {
      LogInfo in_partition, on_card;
      ASSERT_EQ(read_partition_log_info(partition, i, &in_partition), MALTOR_OK);
      ASSERT_EQ(read_log_info(index, &on_card), MALTOR_OK);
      EXPECT_TRUE(same(in_partition, on_card)) << int{partition} << "/" << i;
      EXPECT_EQ(in_partition.word[6], partition);
    }
  }
  EXPECT_EQ(sum, card);
  uint32_t sector = 0;
  ASSERT_EQ(SCSDCurrentSector(&sector), MALTOR_OK);
  EXPECT_EQ(sector, 2048u + card * 2048u);

  // A log the partition does not hold has an empty record.
  LogInfo none;
  ASSERT_EQ(read_partition_log_info(0, 5, &none), MALTOR_OK);
  EXPECT_TRUE(same(none, LogInfo{}));
}

TEST_F(Catalogue, FormatEmptiesTheCardAndKeepsThePartitions) {
  plug_and_connect();
  uint16_t reply = 0;
  ASSERT_EQ(SCSDFormat(0x0042, &reply), MALTOR_OK);
  EXPECT_EQ(reply, 0x0042);
  EXPECT_EQ(GetLogCount(), 0);
  for (uint8_t partition = 0; partition < 3; ++partition) {
    EXPECT_EQ(GetPartitionLogCount(partition), 0);
  }
  uint32_t sector = 0;
  ASSERT_EQ(SCSDCurrentSector(&sector), MALTOR_OK);
  EXPECT_EQ(sector, 2048u);
}

TEST_F(Catalogue, PartitionFormatFramesCoverTheWholeLengthRange) {
  plug_and_connect();
  uint8_t layout[255];
  for (int i = 0; i < 255; ++i) layout[i] = static_cast<uint8_t>(255 - i);
  uint16_t reply = 0;
  ASSERT_EQ(SCPartitionFormat(0x0102, 0, nullptr, &reply), MALTOR_OK);
  ASSERT_EQ(SCPartitionFormat(0x0102, 255, layout, &reply), MALTOR_OK);
  EXPECT_EQ(reply, 255);
  const auto frames = frames_written();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Bytes{0x00, 0x09, 0x00, 0x28, 0x00, 0x02, 0x01, 0x00, 0x34}));
  Bytes payload{0x02, 0x01, 255};
  payload.insert(payload.end(), layout, layout + 255);
  EXPECT_EQ(frames[1], standard_frame(1, 0x28, payload));
  ASSERT_EQ(frames[1].size(), 264u);
  EXPECT_EQ(frames[1][1], 0x08);
  EXPECT_EQ(frames[1][2], 0x01);
}

TEST_F(Catalogue, CountWrappersGiveZeroWhenTheCountCannotBeRead) {
  EXPECT_EQ(GetLogCount(), 0);
  EXPECT_EQ(GetPartitionLogCount(0), 0);
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x0F, 1, 0), 0);
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x25, 1, 0), 0);
  EXPECT_EQ(GetLogCount(), 0);
  EXPECT_EQ(GetPartitionLogCount(0), 0);
  EXPECT_EQ(GetLogCount(), 3);
  EXPECT_EQ(GetPartitionLogCount(0), 2);
}

}  // namespace
}  // namespace maltor::test
