#include "can_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors.h"

namespace maltor::tool {
namespace {

struct ParseCase {
  std::string text;
  std::uint32_t identifier;
  std::vector<std::uint8_t> data;
};

TEST(CanFrameTest, ParsesCanUtilsNotation) {
  const std::vector<ParseCase> cases = {
      {"123#DEADBEEF", 0x123, {0xDE, 0xAD, 0xBE, 0xEF}},
      {"7ff#de.ad.be.ef", 0x7FF, {0xDE, 0xAD, 0xBE, 0xEF}},
      {"123#", 0x123, {}},
      {"1#00", 0x1, {0x00}},
      // Four or more digits make an extended identifier, even when small.
      {"00000123#11.2233", 0x123, {0x11, 0x22, 0x33}},
      {"1FFFFFFF#FF", 0x1FFFFFFF, {0xFF}},
  };
  for (const ParseCase& c : cases) {
    const CanFrameText frame = parse_can_frame(c.text);
    EXPECT_EQ(frame.identifier, c.identifier) << c.text;
    EXPECT_EQ(frame.data, c.data) << c.text;
  }
  const std::string longest = "123#" + std::string(2 * MALTOR_CAN_MAX_DATA, 'A');
  EXPECT_EQ(parse_can_frame(longest).data.size(), MALTOR_CAN_MAX_DATA);
}

TEST(CanFrameTest, RejectsMalformedFrames) {
  const std::vector<std::string> cases = {
      "123DEADBEEF",                                           // no '#'
      "#DEAD",                                                 // no identifier
      "123456789#00",                                          // nine digits
      "800#00",                                                // past the last standard identifier
      "20000000#00",                                           // past the last extended identifier
      "12G#00",                                                // not hex
      "123#ABC",                                               // odd digit count
      "123#A.BC",                                              // a dot splitting a byte
      "123#R",                                                 // remote frame
      "123##1DEAD",                                            // CAN FD flags
      "123#" + std::string(2 * MALTOR_CAN_MAX_DATA + 2, 'A'),  // 65 bytes
  };
  for (const std::string& text : cases) {
    try {
      parse_can_frame(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exit_code(), kExitUsage) << text;
    }
  }
}

TEST(CanFrameTest, FormatsIdentifiersByWidth) {
  EXPECT_EQ(format_can_identifier(0x7E0), "7E0");
  EXPECT_EQ(format_can_identifier(0x5), "005");
  EXPECT_EQ(format_can_identifier(0x800), "00000800");
  const std::uint8_t data[] = {0xDE, 0xAD};
  EXPECT_EQ(format_can_frame(0x7E0, data), "7E0#DEAD");
  EXPECT_EQ(format_can_frame(0x7E0, {}), "7E0#");
}

TEST(CanFrameTest, DumpLineShowsTheRecordsLengthOnly) {
  MaltorCanMessage message{};
  message.bus = 1;
  message.attribute = 0x5A;
  message.length = 3;
  message.identifier = 0x7E0;
  message.returned_word = 0x12345678;
  for (int i = 0; i < 8; ++i) message.data[i] = static_cast<std::uint8_t>(0xA0 + i);
  EXPECT_EQ(format_can_dump_line(1728053248'000042, message),
            "(1728053248.000042)  bus1  7E0       [3]  A0 A1 A2  attr 0x5A word 0x12345678");
  // A length past the record's data is cut to what the record holds.
  message.length = 200;
  EXPECT_EQ(can_data(message).size(), MALTOR_CAN_MAX_DATA);
}

}  // namespace
}  // namespace maltor::tool
