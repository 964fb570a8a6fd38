#include "result_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MaltorUSBdrv.h"
#include "errors.h"

namespace maltor::tool {
namespace {

TEST(ResultCodesTest, EveryLibraryCodeHasItsWords) {
  struct Case {
    std::uint8_t code;
    std::string words;
  };
  const std::vector<Case> cases = {
      {MALTOR_OK, "done"},
      {MALTOR_ERR_PATH, "a path is missing or empty"},
      {MALTOR_ERR_EXCHANGE, "the exchange failed"},
      {MALTOR_ERR_NO_DEVICE, "no device open"},
      {MALTOR_ERR_LOG_SUM, "the log file's sum does not match the device's"},
      {MALTOR_ERR_ARGUMENT, "an argument is out of range; nothing was sent"},
      {4, "unknown result"},
      {200, "unknown result"},
  };
  for (const Case& c : cases) EXPECT_EQ(result_words(c.code), c.words) << int{c.code};
  EXPECT_EQ(describe_result(MALTOR_ERR_EXCHANGE), "the exchange failed (result 6)");
}

TEST(ResultCodesTest, DeviceStatusIsToldFromTheLibrarysOwnCodes) {
  const std::uint8_t library_codes[] = {MALTOR_ERR_EXCHANGE, MALTOR_ERR_NO_DEVICE};
  EXPECT_EQ(describe_result(2, library_codes), "the device refused with status 2");
  EXPECT_EQ(describe_result(MALTOR_ERR_NO_DEVICE, library_codes),
            "no device open (result 7), or the device refused with status 7");
  EXPECT_EQ(describe_result(MALTOR_OK, library_codes), "done (result 0)");
}

TEST(ResultCodesTest, CodeOneReadsByTheKindOfCall) {
  EXPECT_EQ(describe_result(MALTOR_ERR_UPDATE_RUNNING),
            "refused: a firmware update is running (result 1)");
  EXPECT_EQ(describe_transfer_result(MALTOR_ERR_TRANSFER),
            "a frame was not written or its reply not read (result 1)");
  EXPECT_EQ(describe_transfer_result(MALTOR_ERR_ARGUMENT),
            "an argument is out of range; nothing was sent (result 11)");
  EXPECT_NO_THROW(check_transfer_result(MALTOR_OK, "reflashing"));
  EXPECT_THROW(check_transfer_result(MALTOR_ERR_TRANSFER, "reflashing"), ToolError);
}

TEST(ResultCodesTest, CheckThrowsOnlyOnFailure) {
  EXPECT_NO_THROW(check_result(MALTOR_OK, "reading the clock"));
  try {
    check_result(MALTOR_ERR_NO_DEVICE, "reading the clock (SCGetDateTime)");
    FAIL() << "no error";
  } catch (const ToolError& error) {
    EXPECT_EQ(error.exit_code(), kExitFailed);
    EXPECT_STREQ(error.what(), "reading the clock (SCGetDateTime): no device open (result 7)");
  }
}

}  // namespace
}  // namespace maltor::tool
