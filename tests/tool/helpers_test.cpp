// The tool's helpers: what the user types (malformed input is refused with the
// usage exit code), what the tool prints, and how it follows a firmware update.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "MaltorUSBdrv.h"
#include "call_errors.h"
#include "can_frame.h"
#include "console.h"
#include "device_clock.h"
#include "errors.h"
#include "output.h"
#include "progress.h"
#include "sector_range.h"
#include "transfer_frames.h"
#include "update_log.h"

namespace maltor::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Each text must be refused with the usage exit code.
template <typename Parse>
void expect_refused(Parse parse, const std::vector<std::string>& texts) {
  for (const std::string& text : texts) {
    try {
      (void)parse(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const ToolError& error) {
      EXPECT_EQ(error.exit_code(), kExitUsage) << text;
    }
  }
}

TEST(CanFrameTest, ParsesCanUtilsNotationAndFormatsItBack) {
  struct Case {
    std::string text;
    std::uint32_t identifier;
    std::vector<std::uint8_t> data;
    std::string formatted;  // 3 digits up to 7FF, else 8
  };
  const std::vector<Case> cases = {
      {"123#DEADBEEF", 0x123, {0xDE, 0xAD, 0xBE, 0xEF}, "123#DEADBEEF"},
      {"7ff#de.ad.be.ef", 0x7FF, {0xDE, 0xAD, 0xBE, 0xEF}, "7FF#DEADBEEF"},
      {"123#", 0x123, {}, "123#"},
      {"1#00", 0x1, {0x00}, "001#00"},
      // Four or more digits make an extended identifier, even when small.
      {"00000123#11.2233", 0x123, {0x11, 0x22, 0x33}, "123#112233"},
      {"0800#", 0x800, {}, "00000800#"},
      {"1FFFFFFF#FF", 0x1FFFFFFF, {0xFF}, "1FFFFFFF#FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const CanFrameText frame = parse_can_frame(c.text);
    EXPECT_EQ(frame.identifier, c.identifier);
    EXPECT_EQ(frame.data, c.data);
    EXPECT_EQ(format_can_frame(frame.identifier, frame.data), c.formatted);
  }
  const std::string longest = "123#" + std::string(2 * MALTOR_CAN_MAX_DATA, 'A');
  EXPECT_EQ(parse_can_frame(longest).data.size(), MALTOR_CAN_MAX_DATA);

  // No '#', no identifier, nine digits, past 7FF, past 1FFFFFFF, not hex, an odd
  // digit count, a dot splitting a byte, remote and CAN FD frames, 65 bytes.
  expect_refused(parse_can_frame, {"123DEADBEEF", "#DEAD", "123456789#00", "800#00", "20000000#00",
                                   "12G#00", "123#ABC", "123#A.BC", "123#R", "123##1DEAD",
                                   "123#" + std::string(2 * MALTOR_CAN_MAX_DATA + 2, 'A')});
}

TEST(CanFrameTest, DumpLineShowsOnlyTheRecordsLength) {
  // Bus 1, attribute 5A, length 3, identifier 7E0, returned word, timeout and data.
  MaltorCanMessage message{1, 0x5A, 3, 0x7E0, 0x12345678, 0, {0xA0, 0xA1, 0xA2, 0xA3}};
  EXPECT_EQ(format_can_dump_line(1728053248'000042, message),
            "(1728053248.000042)  bus1  7E0       [3]  A0 A1 A2  attr 0x5A word 0x12345678");
  // A length past the record's data is cut to what the record holds.
  message.length = 200;
  EXPECT_EQ(can_data(message).size(), MALTOR_CAN_MAX_DATA);
}

TEST(DeviceClockTest, ParsesAndFormatsUtcTimes) {
  struct Case {
    std::uint32_t value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0, "1970-01-01 00:00:00 UTC"},
      {951782400, "2000-02-29 00:00:00 UTC"},  // leap day of a century leap year
      {1728053248, "2024-10-04 14:47:28 UTC"},
      {0xFFFFFFFF, "2106-02-07 06:28:15 UTC"},  // the last value 32 bits hold
  };
  for (const Case& c : cases) {
    EXPECT_EQ(format_clock_value(c.value), c.text);
    EXPECT_EQ(parse_clock_value(c.text.substr(0, 19)), c.value) << c.text;  // without " UTC"
  }
  EXPECT_EQ(parse_clock_value("2024-10-04t14:47:28"), 1728053248u);
  EXPECT_EQ(parse_clock_value("1728053248"), 1728053248u);
  EXPECT_EQ(parse_clock_value("0x67000000"), 0x67000000u);

  // No leap day in 2023 or 1900, no month 13 or April 31, no hour 24 or minute or
  // second 60 (Unix time has no leap seconds); before 1970 or past 32 bits; malformed.
  expect_refused(parse_clock_value,
                 {"2023-02-29T00:00:00", "1900-02-29T00:00:00", "2024-13-01T00:00:00",
                  "2024-04-31T00:00:00", "2024-10-04T24:00:00", "2024-10-04T12:60:00",
                  "2024-10-04T12:00:60", "1969-12-31T23:59:59", "2106-02-07T06:28:16", "2024-10-04",
                  "2024-10-04T1:02:03", "2024-1O-04T01:02:03", "0x100000000", "-5", ""});
  EXPECT_EQ(clock_value_from_unix(0xFFFFFFFFLL), 0xFFFFFFFFu);
  EXPECT_THROW(clock_value_from_unix(0x100000000LL), ToolError);
  EXPECT_THROW(clock_value_from_unix(-1), ToolError);
}

TEST(SectorRangeTest, BytesOfARangeFitThirtyTwoBits) {
  EXPECT_EQ(sector_range_bytes(0, 8388606), 0xFFFFFE00u);
  EXPECT_EQ(sector_range_bytes(0xFFFFFFFF, 0xFFFFFFFF), 512u);
  EXPECT_THROW(sector_range_bytes(0, 8388607), ToolError);  // exactly 4 GiB would wrap to 0
}

TEST(AnswerTest, OnlyYesMeansYes) {
  for (const char* yes : {"y", "Y", "yes", "YES", "  yes\n", "Yes\r\n"}) {
    EXPECT_TRUE(is_yes_answer(yes)) << yes;
  }
  for (const char* no : {"", "\n", "n", "no", "yess", "y es", "ja", "1"}) {
    EXPECT_FALSE(is_yes_answer(no)) << no;
  }
}

// What the tool prints.

TEST(ProgressFormatTest, AmountsAndDurations) {
  EXPECT_EQ(format_amount(1023, ProgressUnit::kBytes), "1023 B");
  EXPECT_EQ(format_amount(5ull << 30, ProgressUnit::kBytes), "5.0 GiB");
  EXPECT_EQ(format_duration(59.6), "1:00");
  EXPECT_EQ(format_duration(3723), "1:02:03");
  EXPECT_EQ(format_duration(-1), "--:--");
  EXPECT_EQ(format_duration(1e12), "--:--");
}

TEST(ProgressFormatTest, LineShowsWhatTheSnapshotKnows) {
  struct Case {
    ProgressSnapshot snapshot;
    int bar_width;
    std::string line;
  };
  const std::vector<Case> cases = {
      {{1 << 20, 2 << 20, 2.0, ProgressUnit::kBytes},
       10,
       "x [#####-----]  50%  1.0 MiB / 2.0 MiB  512.0 KiB/s  0:02 left"},
      // Bar width 0: no bar.
      {{30, 40, 3.0, ProgressUnit::kItems}, 0, "x  75%  30 / 40  10/s  0:01 left"},
      // No total: no bar, percentage or time left. No elapsed time: no rate.
      {{2048, 0, 4.0, ProgressUnit::kBytes}, 10, "x  2.0 KiB  512 B/s"},
      {{0, 8, 0.0, ProgressUnit::kItems}, 4, "x [----]   0%  0 / 8"},
      {{12, 10, 0.0, ProgressUnit::kItems}, 4, "x [####] 100%  12 / 10"},
      // Percent and elapsed lines leave the counts out.
      {{25, 100, 5.0, ProgressUnit::kPercent}, 4, "x [#---]  25%  0:15 left"},
      {{0, 0, 75.0, ProgressUnit::kElapsed}, 4, "x  1:15 elapsed"},
  };
  for (const Case& c : cases) EXPECT_EQ(format_progress_line("x", c.snapshot, c.bar_width), c.line);
}

// Not a terminal: one line per tenth of the way, the last one once.
TEST(ProgressBarTest, PlainOutputPrintsEveryTenth) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    ProgressBar bar("copy", 100, ProgressUnit::kItems, out, false);
    for (std::uint64_t done = 0; done <= 100; ++done) bar.update(done);
    bar.finish();
  }
  std::rewind(out);
  int lines = 0;
  for (char line[256]; std::fgets(line, sizeof line, out) != nullptr;) ++lines;
  std::fclose(out);
  EXPECT_EQ(lines, 11);
}

TEST(TextOutputTest, BlocksAreTextUpToTheFirstZeroElseHex) {
  const Bytes serial = {'S', 'N', '-', '1', 0, 0xFF, 0};
  EXPECT_EQ(printable_text(serial), "SN-1");  // bytes behind the terminator are not looked at
  EXPECT_EQ(describe_block(serial), "\"SN-1\"");
  EXPECT_EQ(printable_text(Bytes(16, 0)), "");
  const Bytes binary = {0xA0, 0x01, 0x00, 0x00};
  EXPECT_EQ(printable_text(binary), std::nullopt);
  EXPECT_EQ(describe_block(binary), "A001");  // trailing zeros dropped
  EXPECT_EQ(printable_text(Bytes{'a', '\n'}), std::nullopt);
}

TEST(TextOutputTest, RangesCollapseAndColumnsFitTheirWidestCell) {
  EXPECT_EQ(format_number_ranges(std::vector<unsigned>{0, 2, 3, 4, 5, 9, 11, 12}),
            "0, 2-5, 9, 11-12");
  EXPECT_EQ(format_number_ranges(std::vector<unsigned>{}), "");
  const TableColumn columns[] = {{"#", true}, {"size", true}, {"tag", false}, {"note", false}};
  const std::vector<std::vector<std::string>> rows = {{"0", "512", "\"A\"", "x"},
                                                      {"10", "1048576", "\"LONGER\"", ""}};
  EXPECT_EQ(format_table(columns, rows),
            " #     size  tag       note\n"
            " 0      512  \"A\"       x\n"
            "10  1048576  \"LONGER\"\n");
}

// A library stand-in for the error services: one result text and one detail.
MaltorErrorDetail g_detail{};
const char* MALTOR_CALL fake_result_text(std::uint8_t code) {
  return code == MALTOR_ERR_EXCHANGE ? "The exchange with the device failed." : "Other.";
}
std::uint8_t MALTOR_CALL fake_last_error(MaltorErrorDetail* detail) {
  *detail = g_detail;
  return g_detail.kind;
}

class CallErrorsTest : public testing::Test {
 protected:
  void SetUp() override {
    g_detail = {};
    use_library_errors({fake_result_text, fake_last_error});
  }
  void TearDown() override { use_library_errors({}); }

  static void set_detail(std::uint8_t result, std::uint8_t kind, std::int32_t os_error,
                         std::uint64_t done, std::uint64_t expected, const char* text) {
    g_detail = {result, kind, os_error, done, expected, {}};
    std::snprintf(g_detail.text, sizeof g_detail.text, "%s", text);
  }
};

// What a call's result and detail turn into: nothing, or the message and the
// JSON error document the user sees.
TEST_F(CallErrorsTest, ResultAndDetailDecideTheOutcome) {
  // EFBIG on POSIX ("File too large"); another error on Windows, in its words.
  const std::string os_text = os_error_text(27);
  struct Case {
    const char* name;
    std::uint8_t result;
    std::uint8_t kind;  // of the detail; MALTOR_DETAIL_NONE for none
    std::uint8_t detail_result;
    std::string message;  // empty: no failure
    std::string json_part;
  };
  const std::vector<Case> cases = {
      {"success, nothing said", 0, MALTOR_DETAIL_NONE, 0, "", ""},
      // Success with lost bytes fails: the file holds less than was sent.
      {"success, file error", 0, MALTOR_DETAIL_FILE, 0,
       "saving: wrote 102,400 of 1,048,576 bytes to out.bin: " + os_text,
       R"("result":0,"text":"Other","detail":{"kind":"file","os_error":27,"os_error_text":")" +
           os_text +
           R"(","bytes_done":102400,"bytes_expected":1048576,"text":"out.bin is full."},"exit":1})"},
      // A device remark on a successful call is not a failure.
      {"success, device note", 0, MALTOR_DETAIL_DEVICE, 0, "", ""},
      // A detail left by an earlier call with another result is not this call's.
      {"failure, stale detail", MALTOR_ERR_EXCHANGE, MALTOR_DETAIL_FILE, 0,
       "saving: The exchange with the device failed (result 6)",
       R"("result":6,"text":"The exchange with the device failed","detail":null,"exit":1})"},
      {"failure, device detail", MALTOR_ERR_EXCHANGE, MALTOR_DETAIL_DEVICE, MALTOR_ERR_EXCHANGE,
       "saving: out.bin is full; The exchange with the device failed (result 6)",
       R"("detail":{"kind":"device","os_error":27,)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    set_detail(c.detail_result, c.kind, 27, 102400, 1048576, "out.bin is full.");
    if (c.kind == MALTOR_DETAIL_NONE) g_detail = {};
    try {
      check_file_result(c.result, "saving", "out.bin");
      EXPECT_EQ(c.message, "") << "no failure";
    } catch (const ToolError& error) {
      EXPECT_EQ(error.what(), c.message);
      EXPECT_EQ(error.exit_code(), kExitFailed);
      const std::string json = error_json(error);
      EXPECT_NE(json.find(c.json_part), std::string::npos) << json;
    }
  }
}

TEST_F(CallErrorsTest, DeviceStatusIsNotReadAsALibraryCode) {
  const std::uint8_t library_codes[] = {MALTOR_ERR_EXCHANGE, MALTOR_ERR_NO_DEVICE};
  try {
    check_result(2, "reading the log file", library_codes);
    FAIL() << "no error";
  } catch (const ToolError& error) {
    EXPECT_STREQ(error.what(), "reading the log file: the device refused with status 2");
    EXPECT_NE(error_json(error).find(R"("result":2,"text":"device status 2")"), std::string::npos);
  }
  EXPECT_EQ(describe_result(MALTOR_ERR_EXCHANGE, library_codes),
            "The exchange with the device failed (result 6), or the device refused with status 6");
}

TEST(ErrorJsonTest, UsageErrorsHaveNoResult) {
  EXPECT_EQ(error_json(usage_error("bad \"word\"")),
            R"({"error":"bad \"word\"","result":null,"text":null,"detail":null,"exit":2})");
}

TEST(JsonQuoteTest, OutputIsValidUtf8WhateverTheInput) {
  struct Case {
    std::string in;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"latin-1 \xE9t\xE9", R"("latin-1 \u00e9t\u00e9")"},
      {"cut \xE2\x82", R"("cut \u00e2\u0082")"},              // a sequence cut short
      {"\xC0\xAF", R"("\u00c0\u00af")"},                      // an overlong '/'
      {"\xED\xA0\x80", R"("\u00ed\u00a0\u0080")"},            // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")"},  // past U+10FFFF
      {std::string("nul\0bell\x07", 9), R"("nul\u0000bell\u0007")"},
  };
  for (const Case& c : cases) EXPECT_EQ(json_quote(c.in), c.out);
}

TEST(TimeTest, Iso8601InUtc) {
  EXPECT_EQ(iso8601_utc(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(iso8601_utc(1728053248'000042), "2024-10-04T14:47:28.000042Z");
  EXPECT_EQ(iso8601_utc(-1), "1969-12-31T23:59:59.999999Z");
}

TEST(CandumpLogTest, LinesAndFilters) {
  MaltorCanMessage message{3, 0x5A, 2, 0x7E0, 0x12345678, 0, {0xDE, 0xAD}};
  EXPECT_EQ(format_candump_log_line(1728053248'000042, message),
            "(1728053248.000042) can3 7E0#DEAD");
  message.identifier = 0x1F334455;
  message.length = 0;
  EXPECT_EQ(format_candump_log_line(42, message), "(0000000000.000042) can3 1F334455#");
  message.length = 9;  // more than a classic frame holds: a CAN FD frame
  EXPECT_EQ(format_candump_log_line(0, message).substr(25), "1F334455##0DEAD00000000000000");

  const CanFilter filter = parse_can_filter("7E0:7F0");
  EXPECT_TRUE(filter.passes(0x7EF));
  EXPECT_FALSE(filter.passes(0x7D0));
  EXPECT_TRUE(parse_can_filter("0:0").passes(0x1FFFFFFF));
  expect_refused(parse_can_filter, {"7E0", "7E0:", ":7FF", "7G0:7FF", "20000000:1", "1:2:3"});
}

// Following a firmware update.

const std::string kHeader =
    "\r\r\n" + std::string(93, '*') + "\r\r\n" +
    "Varden Osprin reprogramming started at            Thu May 28 20:26:40 2026\r\n" +
    "590 bytes                                         fw.bin\r\r\n";

TEST(UpdateLogScannerTest, OutcomeComesFromTheLinesAfterTheHeader) {
  struct Case {
    std::string name;
    std::string tail;  // what follows the header
    UpdateEnd end;
    std::optional<std::uint64_t> transferred;
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"finished",
       "590 bytes                                         Transfered data\r\r\n"
       "Firmware update is finished successfully.\r\r\n",
       UpdateEnd::kFinished, 590, ""},
      {"block refused",
       "Block 2 bytes    59  CRC - Failed\r\r\n"
       "118 bytes                                         Transfered data\r\r\n"
       "Firmware update is not finished successfuly.\r\r\n",
       UpdateEnd::kNotFinished, 118, "Block 2 bytes    59  CRC - Failed"},
      // No trailer follows these two: the failure line is the update's last.
      {"start refused", "Reprogramming  start - Failed\r\r\n", UpdateEnd::kNotFinished,
       std::nullopt, "Reprogramming  start - Failed"},
      {"announce refused", "Reprogramming  preparation - Failed\n", UpdateEnd::kNotFinished,
       std::nullopt, "Reprogramming  preparation - Failed"},
      {"trailer half written",
       "590 bytes                                         Transfered data\r\r\nFirmware update is "
       "fin",
       UpdateEnd::kRunning, 590, ""},
      // A second update appending later does not change the first one's outcome.
      {"later update",
       "0 bytes                                           Transfered data\r\r\n"
       "Firmware update is not finished successfuly.\r\r\n" +
           kHeader +
           "590 bytes                                         Transfered data\r\r\n"
           "Firmware update is finished successfully.\r\r\n",
       UpdateEnd::kNotFinished, 0, ""},
  };
  for (const Case& c : cases) {
    // Whole, and in pieces that cut lines and line ends apart.
    for (const std::size_t piece : {std::size_t{100000}, std::size_t{1}, std::size_t{7}}) {
      SCOPED_TRACE(c.name + " / " + std::to_string(piece));
      UpdateLogScanner scanner;
      const std::string text = kHeader + c.tail;
      for (std::size_t at = 0; at < text.size(); at += piece) scanner.feed(text.substr(at, piece));
      EXPECT_EQ(scanner.state().end, c.end);
      EXPECT_EQ(scanner.state().transferred, c.transferred);
      EXPECT_EQ(scanner.state().failure, c.failure);
    }
  }
}

// The full image's counts are checked against the virtual device end to end.
TEST(TransferFramesTest, LastFrameTakesUpToOneByteMoreThanTheLimit) {
  const std::uint32_t high = transfer_chunk_limit(true);   // 490 bytes a frame
  const std::uint32_t full = transfer_chunk_limit(false);  // 42
  EXPECT_EQ(transfer_data_frames(0, high), 0u);
  EXPECT_EQ(transfer_data_frames(1, high), 1u);
  EXPECT_EQ(transfer_data_frames(491, high), 1u);
  EXPECT_EQ(transfer_data_frames(492, high), 2u);
  EXPECT_EQ(transfer_data_frames(43, full), 1u);
  EXPECT_EQ(transfer_data_frames(44, full), 2u);
}

}  // namespace
}  // namespace maltor::tool
