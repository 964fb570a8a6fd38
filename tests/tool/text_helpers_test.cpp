// The smaller text helpers: blocks as text, ranges, tables, yes/no answers
// and the sector range of a download.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console.h"
#include "errors.h"
#include "output.h"
#include "sector_range.h"

namespace maltor::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BlockTextTest, TextUpToTheFirstZeroElseHex) {
  const Bytes serial = {'S', 'N', '-', '1', 0, 0xFF, 0};
  EXPECT_EQ(printable_text(serial), "SN-1");  // bytes behind the terminator are not looked at
  EXPECT_EQ(describe_block(serial), "\"SN-1\"");
  EXPECT_EQ(printable_text(Bytes(16, 0)), "");
  const Bytes binary = {0xA0, 0x01, 0x00, 0x00};
  EXPECT_EQ(printable_text(binary), std::nullopt);
  EXPECT_EQ(describe_block(binary), "A001");  // trailing zeros dropped
  EXPECT_EQ(printable_text(Bytes{'a', '\n'}), std::nullopt);
  EXPECT_EQ(hex_string(Bytes{0x00, 0x7F, 0xDE}), "007FDE");
}

TEST(NumberRangesTest, RunsCollapse) {
  const std::vector<unsigned> numbers = {0, 2, 3, 4, 5, 9, 11, 12};
  EXPECT_EQ(format_number_ranges(numbers), "0, 2-5, 9, 11-12");
  EXPECT_EQ(format_number_ranges(std::vector<unsigned>{7}), "7");
  EXPECT_EQ(format_number_ranges(std::vector<unsigned>{}), "");
}

TEST(TableTest, ColumnsFitTheirWidestCell) {
  const TableColumn columns[] = {{"#", true}, {"size", true}, {"tag", false}, {"note", false}};
  const std::vector<std::vector<std::string>> rows = {{"0", "512", "\"A\"", "x"},
                                                      {"10", "1048576", "\"LONGER\"", ""}};
  EXPECT_EQ(format_table(columns, rows),
            " #     size  tag       note\n"
            " 0      512  \"A\"       x\n"
            "10  1048576  \"LONGER\"\n");
}

TEST(AnswerTest, OnlyYesMeansYes) {
  for (const char* yes : {"y", "Y", "yes", "YES", "  yes\n", "Yes\r\n"}) {
    EXPECT_TRUE(is_yes_answer(yes)) << yes;
  }
  for (const char* no : {"", "\n", "n", "no", "yess", "y es", "ja", "1"}) {
    EXPECT_FALSE(is_yes_answer(no)) << no;
  }
}

TEST(SectorRangeTest, BytesOfARangeFitThirtyTwoBits) {
  EXPECT_EQ(sector_range_bytes(100, 100), 512u);
  EXPECT_EQ(sector_range_bytes(0, 127), 65536u);
  EXPECT_EQ(sector_range_bytes(0, 8388606), 0xFFFFFE00u);
  EXPECT_EQ(sector_range_bytes(0xFFFFFFFF, 0xFFFFFFFF), 512u);
  EXPECT_THROW(sector_range_bytes(0, 8388607), ToolError);  // exactly 4 GiB would wrap to 0
  EXPECT_THROW(sector_range_bytes(5, 4), ToolError);
}

}  // namespace
}  // namespace maltor::tool
