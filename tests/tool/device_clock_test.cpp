#include "device_clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "errors.h"

namespace maltor::tool {
namespace {

struct ClockCase {
  std::uint32_t value;
  std::string text;
};

TEST(DeviceClockTest, FormatsAndParsesUtcTimes) {
  const std::vector<ClockCase> cases = {
      {0, "1970-01-01 00:00:00 UTC"},
      {951782400, "2000-02-29 00:00:00 UTC"},  // leap day of a century leap year
      {1728053248, "2024-10-04 14:47:28 UTC"},
      {0xFFFFFFFF, "2106-02-07 06:28:15 UTC"},  // the last value 32 bits hold
  };
  for (const ClockCase& c : cases) {
    EXPECT_EQ(format_clock_value(c.value), c.text);
    // "YYYY-MM-DD HH:MM:SS" is the formatted text without " UTC".
    EXPECT_EQ(parse_clock_value(c.text.substr(0, 19)), c.value) << c.text;
  }
  EXPECT_EQ(parse_clock_value("2024-10-04T14:47:28Z"), 1728053248u);
  EXPECT_EQ(parse_clock_value("2024-10-04t14:47:28"), 1728053248u);
  EXPECT_EQ(parse_clock_value("1728053248"), 1728053248u);
  EXPECT_EQ(parse_clock_value("0x67000000"), 0x67000000u);
}

TEST(DeviceClockTest, RejectsTimesTheClockCannotHold) {
  const std::vector<std::string> cases = {
      "2023-02-29T00:00:00",  // no leap day in 2023
      "1900-02-29T00:00:00",  // nor in 1900
      "2024-13-01T00:00:00",
      "2024-04-31T00:00:00",
      "2024-10-04T24:00:00",
      "2024-10-04T12:60:00",
      "2024-10-04T12:00:60",  // no leap seconds in Unix time
      "1969-12-31T23:59:59",  // before the clock's 0
      "2106-02-07T06:28:16",  // past 32 bits
      "2024-10-04",
      "2024-10-04T1:02:03",
      "2024-1O-04T01:02:03",
      "0x100000000",
      "-5",
      "",
  };
  for (const std::string& text : cases) {
    try {
      parse_clock_value(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exit_code(), kExitUsage) << text;
    }
  }
  EXPECT_EQ(clock_value_from_unix(0xFFFFFFFFLL), 0xFFFFFFFFu);
  EXPECT_THROW(clock_value_from_unix(0x100000000LL), ToolError);
  EXPECT_THROW(clock_value_from_unix(-1), ToolError);
}

}  // namespace
}  // namespace maltor::tool
