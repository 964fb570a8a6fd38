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
  bool operator==(const LogInfo& other) const {
    return std::memcmp(this, &other, sizeof other) == 0;
  }
};

// Reads a log's record from the card, or from `partition` when one is given.
LogInfo read_log_info(uint16_t index, int partition = -1) {
  LogInfo info;
  uint32_t* w = info.word;
  const uint8_t result =
      partition < 0
          ? SCSDLogInfo(index, &w[0], &w[1], &w[2], &w[3], &w[4], &w[5], &w[6], info.block_16,
                        info.block_255, &info.trailing)
          : SCPartitionLogInfo(static_cast<uint8_t>(partition), index, &w[0], &w[1], &w[2], &w[3],
                               &w[4], &w[5], &w[6], info.block_16, info.block_255, &info.trailing);
  EXPECT_EQ(result, MALTOR_OK);
  return info;
}

// Beyond the table's rows: the sequence byte and checksum follow the counter,
// the log index goes low byte first, and a layout runs from no entries (a
// 9-byte frame) to 255 (264 bytes, length field 0x0108).
TEST_F(Catalogue, FramesFollowTheCounterTheIndexAndTheLayoutLength) {
  plug_and_connect();
  const std::uint8_t s = next_sequence();
  uint16_t reply = 0;
  ASSERT_EQ(SCSDLogCount(&reply), MALTOR_OK);
  read_log_info(300);
  Bytes payload{0x02, 0x01, 255};
  for (int i = 0; i < 255; ++i) payload.push_back(static_cast<uint8_t>(255 - i));
  ASSERT_EQ(SCPartitionFormat(0x0102, 0, nullptr, &reply), MALTOR_OK);
  ASSERT_EQ(SCPartitionFormat(0x0102, 255, payload.data() + 3, &reply), MALTOR_OK);
  EXPECT_EQ(reply, 255);
  const auto frames = frames_written();
  EXPECT_EQ(frames,
            (std::vector<Bytes>{standard_frame(s, 0x0F), standard_frame(s + 1, 0x10, {0x2C, 0x01}),
                                standard_frame(s + 2, 0x28, {0x02, 0x01, 0x00}),
                                standard_frame(s + 3, 0x28, payload)}));
  ASSERT_EQ(frames.size(), 4u);
  ASSERT_EQ(frames[3].size(), 264u);
  EXPECT_EQ(Bytes(frames[3].begin() + 1, frames[3].begin() + 3), (Bytes{0x08, 0x01}));
}

// The device's record: number, first and last sector, size, partition, start
// time, duration. The partition (wire word 5) lands in the seventh output.
TEST_F(Catalogue, LogInfoWordsArriveInTheirOutputs) {
  plug_and_connect();
  const LogInfo info = read_log_info(2);
  EXPECT_EQ(info.word[0], 2u);
  EXPECT_EQ(info.word[1], 2048u + 2 * 2048);
  EXPECT_EQ(info.word[2], 2048u + 3 * 2048 - 1);
  EXPECT_EQ(info.word[3], 2048u * 512);
  EXPECT_EQ(info.word[6], 1u);                                // partition
  EXPECT_EQ(info.word[5], 3600u);                             // duration
  EXPECT_EQ(info.word[4] - read_log_info(1).word[4], 3600u);  // start times an hour apart
  EXPECT_STREQ(reinterpret_cast<const char*>(info.block_16), "LOG-P1-0000");
  EXPECT_EQ(info.trailing, 1);
}

// Partitions hold their own logs; together they are the card's catalogue.
TEST_F(Catalogue, PartitionsTogetherMakeTheCardUntilFormatted) {
  plug_and_connect();
  const uint16_t card = GetLogCount();
  EXPECT_EQ(card, 3);
  uint16_t index = 0;
  for (uint8_t partition = 0; partition < 4; ++partition) {
    const uint16_t count = GetPartitionLogCount(partition);
    for (uint16_t i = 0; i < count; ++i, ++index) {
      SCOPED_TRACE(testing::Message() << int{partition} << "/" << i);
      const LogInfo in_partition = read_log_info(i, partition);
      EXPECT_TRUE(in_partition == read_log_info(index));
      EXPECT_EQ(in_partition.word[6], partition);
    }
  }
  EXPECT_EQ(index, card);  // the partitions' counts add up to the card's
  uint32_t sector = 0;
  ASSERT_EQ(SCSDCurrentSector(&sector), MALTOR_OK);
  EXPECT_EQ(sector, 2048u + card * 2048u);
  // A log the partition does not hold has an empty record.
  EXPECT_TRUE(read_log_info(5, 0) == LogInfo{});

  // Formatting empties the card and every partition, and echoes its argument.
  uint16_t reply = 0;
  ASSERT_EQ(SCSDFormat(0x0042, &reply), MALTOR_OK);
  EXPECT_EQ(reply, 0x0042);
  EXPECT_EQ(GetLogCount(), 0);
  for (uint8_t p = 0; p < 3; ++p) EXPECT_EQ(GetPartitionLogCount(p), 0);
  ASSERT_EQ(SCSDCurrentSector(&sector), MALTOR_OK);
  EXPECT_EQ(sector, 2048u);
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
