// The command table against a hand-written list of every standard command,
// and the exchange's use of each row on the wire and on the clock.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "link/command_table.h"
#include "link_test_util.h"

namespace maltor::test {
namespace {

using link::CommandRow;
using link::Reader;

// L and R without the variable part n; T in ms (0 for direct rows); reader
// F fixed wait, H header timeout, D direct; checks S sequence, E echo, Z clear.
struct Expected {
  std::uint8_t code;
  std::uint16_t write_length;
  std::uint16_t read_length;
  std::uint32_t timeout_ms;
  char reader;
  const char* checks;
};

// clang-format off
constexpr Expected kExpected[] = {
  {0x02,  6,  15, 5000, 'F', ""},   {0x07, 14,   8,    0, 'D', ""},
  {0x08, 12,   8,    0, 'D', ""},   {0x09,  8,   8,    0, 'D', ""},
  {0x0A,  6,  26, 5000, 'F', ""},   {0x0B, 26,   8,    0, 'D', ""},
  {0x0C, 12,   8,    0, 'D', ""},   {0x0D,  8,   8,    0, 'D', ""},
  {0x0E,  8,   8, 5000, 'F', ""},   {0x0F,  6,   8, 5000, 'F', ""},
  {0x10,  8, 306, 5000, 'F', ""},   {0x11,  6,  10, 5000, 'F', ""},
  {0x12, 10,   6, 5000, 'F', ""},   {0x13, 16,   6, 5000, 'F', ""},
  {0x14,  6,   6, 5000, 'F', ""},   {0x15,  6, 134, 4000, 'H', "S"},
  {0x16,  7,   6, 4000, 'H', "S"},  {0x17,  6,  10, 5000, 'F', ""},
  {0x19,  7,   7, 5000, 'F', ""},   {0x1A,  7,   7, 5000, 'F', ""},
  {0x1B,  6,  23, 5000, 'F', ""},   {0x1C,  8,   6, 5000, 'F', ""},
  {0x1D, 22,   6, 1000, 'H', ""},   {0x1E, 17,  11, 1000, 'H', ""},
  {0x1F, 11,  87,  200, 'H', ""},   {0x20,  6,   6, 1000, 'F', ""},
  {0x21,  9,   6, 1000, 'H', "ZE"}, {0x22,  6, 134, 1000, 'H', "S"},
  {0x23,  7,  70, 5000, 'H', "S"},  {0x24,  8,   7, 1000, 'H', "ZE"},
  {0x25,  7,   8, 5000, 'F', ""},   {0x26,  9, 306, 5000, 'F', ""},
  {0x27,  6,  17, 4000, 'H', "S"},  {0x28,  9,   8, 5000, 'F', ""},
  {0x2C, 10,   6, 5000, 'F', ""},   {0x2D,  8,   8, 5000, 'F', ""},
  {0x2E,  6,   7, 5000, 'F', ""},   {0x2F,  6,   6, 5000, 'F', ""},
  {0x30,  6,   6, 5000, 'F', ""},   {0x31,  6,  10, 5000, 'F', ""},
  {0x32,  6,  10, 5000, 'F', ""},   {0x33,  6,   7, 5000, 'F', ""},
  {0x34,  9,  10, 5000, 'F', ""},   {0x35,  8,  10, 5000, 'F', ""},
  {0x36,  8,  10, 5000, 'F', ""},   {0x37,  8,  10, 5000, 'F', ""},
  {0x38, 16,  10, 5000, 'F', ""},   {0x3A, 16,  10, 5000, 'F', ""},
  {0x3C,  9,  10, 5000, 'F', ""},
};
// clang-format on

// The CAN set-up and frame commands read a reply even after a failed write.
const std::set<std::uint8_t> kReadAfterFailedWrite = {0x1D, 0x1E, 0x1F, 0x20};

const Expected* expected_for(std::uint8_t code) {
  for (const Expected& row : kExpected) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

char reader_letter(Reader reader) {
  switch (reader) {
    case Reader::kFixed:
      return 'F';
    case Reader::kTimed:
      return 'H';
    case Reader::kDirect:
      return 'D';
  }
  return '?';
}

std::string check_letters(std::uint8_t flags) {
  std::string out;
  if (flags & link::kClearReply) out += 'Z';
  if (flags & link::kEchoCheck) out += 'E';
  if (flags & link::kSequenceCheck) out += 'S';
  return out;
}

std::string sorted(std::string text) {
  std::sort(text.begin(), text.end());
  return text;
}

TEST(CommandTable, EveryRowMatchesTheCommandList) {
  std::set<std::uint8_t> codes;
  for (const CommandRow& row : link::kCommandTable) {
    SCOPED_TRACE(::testing::Message() << "code 0x" << std::hex << int{row.code});
    EXPECT_TRUE(codes.insert(row.code).second) << "code listed twice";
    const Expected* want = expected_for(row.code);
    ASSERT_NE(want, nullptr) << "code not in the list";
    EXPECT_EQ(row.write_length, want->write_length);
    EXPECT_EQ(row.read_length, want->read_length);
    EXPECT_EQ(row.timeout_ms, want->timeout_ms);
    EXPECT_EQ(reader_letter(row.reader), want->reader);
    EXPECT_EQ(sorted(check_letters(row.flags)), sorted(want->checks));
    EXPECT_EQ((row.flags & link::kReadAfterFailedWrite) != 0,
              kReadAfterFailedWrite.count(row.code) == 1);
  }
  EXPECT_EQ(codes.size(), std::size(kExpected));
}

// Every row run through the exchange against a device that never answers:
// the frame, the header and the time the reader waits.
class CommandRows : public LinkTest {
 protected:
  void SetUp() override {
    LinkTest::SetUp();
    device_ = plug_and_connect();
  }
  std::int32_t device_ = 0;
};

TEST_F(CommandRows, ExchangeUsesRowOnWireAndClock) {
  for (const CommandRow& row : link::kCommandTable) {
    const Expected* want = expected_for(row.code);
    if (want == nullptr || want->reader == 'D') continue;
    SCOPED_TRACE(::testing::Message() << "code 0x" << std::hex << int{row.code});
    MaltorSim_TraceClear();
    ASSERT_EQ(MaltorSim_InjectFault(device_, MALTOR_SIM_FAULT_NO_REPLY, row.code, 1, 0), 0);
    std::memset(link::buffer0().reply, 0xC7, 128);

    std::uint8_t result = 0xFF;
    const std::uint64_t waited = virtual_ms([&] {
      link::Exchange exchange(row.id);
      ASSERT_TRUE(exchange.ready());
      result = exchange.run();
    });

    EXPECT_EQ(result, MALTOR_ERR_EXCHANGE);
    EXPECT_EQ(waited, want->reader == 'F' ? 5000u : want->timeout_ms);
    const Header header = header0();
    EXPECT_EQ(header.timeout_ms, want->timeout_ms);
    EXPECT_EQ(header.bytes_to_write, want->write_length);
    EXPECT_EQ(header.bytes_to_read, want->read_length);
    const std::uint8_t* reply = link::buffer0().reply;
    const auto frames = frames_written();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].size(), want->write_length);
    EXPECT_EQ(frames[0][3], want->code);
    EXPECT_EQ(transfers_on(0x82), 0u);
    const bool cleared = std::string(want->checks).find('Z') != std::string::npos;
    EXPECT_EQ(reply[0], cleared ? 0x00 : 0xC7);
    EXPECT_EQ(reply[63], cleared ? 0x00 : 0xC7);
    EXPECT_EQ(reply[64], 0xC7);
  }
}

TEST_F(CommandRows, FailedWriteReadsOnlyWhereTheRowSaysSo) {
  for (const CommandRow& row : link::kCommandTable) {
    const Expected* want = expected_for(row.code);
    if (want == nullptr || want->reader == 'D') continue;
    SCOPED_TRACE(::testing::Message() << "code 0x" << std::hex << int{row.code});
    ASSERT_EQ(MaltorSim_InjectFault(device_, MALTOR_SIM_FAULT_WRITE_FAILS, row.code, 1, 0), 0);

    std::uint8_t result = 0xFF;
    const std::uint64_t waited = virtual_ms([&] {
      link::Exchange exchange(row.id);
      result = exchange.run();
    });

    EXPECT_EQ(result, MALTOR_ERR_EXCHANGE);
    const std::uint64_t wait = want->reader == 'F' ? 5000u : want->timeout_ms;
    EXPECT_EQ(waited, kReadAfterFailedWrite.count(row.code) ? wait : 0u);
  }
}

}  // namespace
}  // namespace maltor::test
