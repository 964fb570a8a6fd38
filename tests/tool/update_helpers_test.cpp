#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "transfer_frames.h"
#include "update_log.h"

namespace maltor::tool {
namespace {

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
      UpdateLogScanner scanner;
      const std::string text = kHeader + c.tail;
      for (std::size_t at = 0; at < text.size(); at += piece) scanner.feed(text.substr(at, piece));
      const UpdateLogState& state = scanner.state();
      EXPECT_EQ(state.end, c.end) << c.name << " / " << piece;
      EXPECT_EQ(state.transferred, c.transferred) << c.name << " / " << piece;
      EXPECT_EQ(state.failure, c.failure) << c.name << " / " << piece;
    }
  }
}

TEST(TransferFramesTest, LastFrameTakesUpToOneByteMoreThanTheLimit) {
  struct Case {
    std::uint64_t length;
    bool high_speed;
    std::uint64_t data_frames;
  };
  const std::vector<Case> cases = {
      {kReflashImageBytes, true, 1070},    // 1,069 of 490 and one of 478
      {kReflashImageBytes, false, 12484},  // 12,483 of 42 and one of 2
      {491, true, 1},
      {492, true, 2},
      {43, false, 1},
      {44, false, 2},
      {1, true, 1},
      {0, true, 0},
  };
  for (const Case& c : cases) {
    const std::uint32_t limit = transfer_chunk_limit(c.high_speed);
    EXPECT_EQ(transfer_data_frames(c.length, limit), c.data_frames) << c.length << "/" << limit;
  }
  EXPECT_EQ(transfer_frames(kReflashImageBytes, 490), 1072u);
}

}  // namespace
}  // namespace maltor::tool
