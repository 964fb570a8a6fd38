// Single frames: what CANTx sends and keeps, how CANRx polls and fills.
#include <algorithm>
#include <cstring>

#include "can_test_util.h"

namespace maltor::test {
namespace {

using CanFrames = CanTest;

// The record is byte-packed: its 32-bit fields are read by value (uint32_t{...}),
// never bound to a reference.

MaltorCanMessage filled(std::uint8_t byte) {
  MaltorCanMessage message;
  std::memset(&message, byte, sizeof message);
  return message;
}

bool all_zero(const MaltorCanMessage& message) {
  const MaltorCanMessage zero{};
  return std::memcmp(&message, &zero, sizeof zero) == 0;
}

TEST_F(CanFrames, TransmitSendsTheFixedWordsAndKeepsTheDevicesAnswer) {
  plug_and_connect();
  for (const std::uint8_t length : {0, 64}) {
    SCOPED_TRACE(static_cast<int>(length));
    const std::uint8_t sequence = next_sequence();
    MaltorCanMessage message = filled(0x5C);
    message.bus = 1;
    message.attribute = 0x42;
    message.length = length;
    for (int i = 0; i < 64; ++i) message.data[i] = static_cast<std::uint8_t>(0x80 + i);
    ASSERT_EQ(CANTx(&message), MALTOR_OK);

    Bytes payload = {1, 0x42, length, 0xE0, 0x07, 0, 0, 0xD0, 0x07, 0, 0};
    payload.insert(payload.end(), message.data, message.data + length);
    EXPECT_EQ(frames_written(), std::vector<Bytes>{standard_frame(sequence, 0x1E, payload)});

    EXPECT_EQ(std::uint32_t{message.identifier}, 2016u);
    const auto replies = replies_read();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(std::uint32_t{message.returned_word}, le32(replies[0].data() + 6));
    EXPECT_NE(std::uint32_t{message.returned_word}, 2000u);
    EXPECT_EQ(std::uint32_t{message.receive_timeout}, 0x5C5C5C5Cu);
  }
}

TEST_F(CanFrames, TransmitWithoutReplyKeepsTheWordsItSent) {
  const std::int32_t device = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_NO_REPLY, 0x1E, 1, 0), 0);
  MaltorCanMessage message{};
  std::uint8_t result = 0;
  const std::uint64_t waited = virtual_ms([&] { result = CANTx(&message); });
  EXPECT_GE(waited, 1000u);
  EXPECT_LT(waited, 1100u);
  EXPECT_EQ(result, MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(std::uint32_t{message.identifier}, 2016u);
  EXPECT_EQ(std::uint32_t{message.returned_word}, 2000u);
}

TEST_F(CanFrames, ReceiveFillsTheRecordFromTheReply) {
  const std::int32_t device = plug_and_connect();
  std::uint8_t data[64];
  for (int i = 0; i < 64; ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_EQ(MaltorSim_CanDeliver(device, 1, 0x18FF1234, data, 64), 0);

  MaltorCanMessage message = filled(0);
  message.bus = 1;
  message.receive_timeout = 0x01020304;
  std::uint16_t count = 0;
  const std::uint8_t sequence = next_sequence();
  ASSERT_EQ(CANRx(&count, &message), MALTOR_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(frames_written().at(0), standard_frame(sequence, 0x1F, {1, 4, 3, 2, 1}));

  const Bytes reply = replies_read().at(0);
  EXPECT_EQ(message.bus, 1);
  EXPECT_EQ(message.length, 64);
  EXPECT_EQ(std::uint32_t{message.identifier}, 0x18FF1234u);
  EXPECT_EQ(std::uint32_t{message.returned_word}, le32(reply.data() + 14));
  EXPECT_EQ(0, std::memcmp(message.data, data, 64));
  // The timeout field lies over data bytes 0-3 in the reply.
  EXPECT_EQ(std::uint32_t{message.receive_timeout}, le32(data));
}

TEST_F(CanFrames, SentFramesComeBackOnTheSameBus) {
  plug_and_connect();
  MaltorCanMessage sent = filled(0);
  sent.length = 3;
  sent.data[0] = 0xAB;
  ASSERT_EQ(CANTx(&sent), MALTOR_OK);

  MaltorCanMessage other = filled(0), echo = filled(0);
  other.bus = 1;
  std::uint16_t count = 0;
  EXPECT_EQ(CANRx(&count, &other), MALTOR_ERR_EXCHANGE);
  ASSERT_EQ(CANRx(&count, &echo), MALTOR_OK);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(std::uint32_t{echo.identifier}, 2016u);
  EXPECT_EQ(std::uint32_t{echo.returned_word}, std::uint32_t{sent.returned_word});
  EXPECT_EQ(echo.length, 3);
  EXPECT_EQ(echo.data[0], 0xAB);
}

// A count of 0 repeats the same poll until the timeout passes: an idle device
// answers 0 at once, a silent one costs 200 ms a poll. Any other count (byte 6
// counts too: 256 is not 0) ends at once. Neither touches count or record.
TEST_F(CanFrames, ReceivePollsUntilTheTimeoutOrANonZeroCount) {
  const std::int32_t device = plug_and_connect();
  struct Case {
    const char* name;
    std::uint32_t mode, forced, timeout_ms;
    std::uint8_t result;
    std::size_t min_polls, max_polls;
  };
  const Case cases[] = {
      {"idle, 0 ms", MALTOR_SIM_CAN_RX_QUEUE, 0, 0, MALTOR_ERR_EXCHANGE, 1, SIZE_MAX},
      {"idle, 40 ms", MALTOR_SIM_CAN_RX_QUEUE, 0, 40, MALTOR_ERR_EXCHANGE, 20, SIZE_MAX},
      {"silent, 1000 ms", MALTOR_SIM_CAN_RX_SILENT, 0, 1000, MALTOR_ERR_EXCHANGE, 5, SIZE_MAX},
      {"count 2", MALTOR_SIM_CAN_RX_COUNT, 2, 100, MALTOR_OK, 1, 1},
      {"count 256", MALTOR_SIM_CAN_RX_COUNT, 256, 100, MALTOR_OK, 1, 1},
      {"count 65535", MALTOR_SIM_CAN_RX_COUNT, 65535, 100, MALTOR_OK, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(MaltorSim_CanRxMode(device, c.mode, c.forced), 0);
    MaltorSim_TraceClear();
    MaltorCanMessage message = filled(0x77);
    message.receive_timeout = c.timeout_ms;
    std::uint16_t count = 0xBEEF;
    std::uint8_t result = 0;
    const std::uint64_t waited = virtual_ms([&] { result = CANRx(&count, &message); });
    EXPECT_EQ(result, c.result);
    if (c.result != MALTOR_OK) {
      EXPECT_GT(waited, c.timeout_ms);
    }
    EXPECT_EQ(count, 0xBEEF);
    EXPECT_TRUE(all_zero(message));
    const auto frames = frames_written();
    EXPECT_GE(frames.size(), c.min_polls);
    EXPECT_LE(frames.size(), c.max_polls);
    for (const Bytes& frame : frames) EXPECT_EQ(frame, frames.front());
  }
}

TEST_F(CanFrames, ReceiveTimeoutSpansTheTickCountersWrap) {
  plug_and_connect();
  MaltorSim_ClockSetOrigin(1'780'000'000, 0xFFFFFFFFu - 20);
  MaltorCanMessage message = filled(0);
  message.receive_timeout = 100;
  std::uint16_t count = 0;
  std::uint8_t result = 0;
  const std::uint64_t waited = virtual_ms([&] { result = CANRx(&count, &message); });
  EXPECT_EQ(result, MALTOR_ERR_EXCHANGE);
  EXPECT_GT(waited, 100u);
  EXPECT_LT(waited, 150u);
  // Put the counter back where the virtual clock's own value would have it.
  MaltorSim_ClockSetOrigin(1'780'000'000, static_cast<std::uint32_t>(MaltorSim_ClockNow()));
}

// Without a device, or with a bad argument, nothing is sent and the record is kept.
TEST_F(CanFrames, RefusedCallsSendNothingAndKeepTheRecord) {
  MaltorCanMessage message = filled(0x33);
  std::uint16_t count = 0xBEEF;
  EXPECT_EQ(CANTx(&message), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(CANRx(&count, &message), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);

  plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  message.length = 65;
  EXPECT_EQ(CANTx(&message), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANTx(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANRx(nullptr, &message), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANRx(&count, nullptr), MALTOR_ERR_ARGUMENT);
  MaltorCanMessage untouched = filled(0x33);
  untouched.length = 65;
  EXPECT_EQ(0, std::memcmp(&message, &untouched, sizeof message));
  EXPECT_EQ(count, 0xBEEF);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);
  EXPECT_EQ(probe_sequence(), sequence);
}

}  // namespace
}  // namespace maltor::test
