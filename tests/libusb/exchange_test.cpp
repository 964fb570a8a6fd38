// Standard exchanges through the exports over libusb and the emulated device,
// on the host's real clock.
#include <cstring>

#include "libusb_fixture.h"

namespace maltor::test {
namespace {

using sim::DeviceModel;
using sim::FaultKind;

void arm(EmulatedDevice& device, FaultKind kind, std::int32_t command, std::uint32_t param = 0) {
  device.with_model([&](DeviceModel& model) { return model.arm_fault(kind, command, 0, param); });
}

TEST_F(LibusbTest, FirmwareVersionRoundTrip) {
  connect();
  link::g_sequence = 5;
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  ASSERT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);
  EXPECT_EQ(word, 0x0203);
  EXPECT_EQ(a, 4);
  EXPECT_EQ(b, 5);
  EXPECT_EQ(c, 6);
  EXPECT_EQ(link::g_sequence, 6);
}

TEST_F(LibusbTest, ReplyThatNeverComesFailsAfterTheHeaderTimeout) {
  connect();
  arm(logger(), FaultKind::kNoReply, 0x21);
  const std::uint8_t settings[2] = {7, 9};
  const std::uint8_t sequence = link::g_sequence;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SCSetHWSettings(1, 0, 2, settings), MALTOR_ERR_EXCHANGE);
  const long waited = elapsed_ms(start);
  EXPECT_GE(waited, 950);  // SCSetHWSettings reads with its 1,000 ms header timeout
  EXPECT_LT(waited, 3000);
  EXPECT_EQ(link::g_sequence, static_cast<std::uint8_t>(sequence + 1));
  // The device kept quiet; libusb itself did not fail.
  MaltorErrorDetail detail{};
  EXPECT_EQ(MaltorGetLastError(&detail), MALTOR_DETAIL_DEVICE);
  EXPECT_EQ(detail.result, MALTOR_ERR_EXCHANGE);

  // The aborted read is gone: the next exchange gets its own reply.
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);
  EXPECT_EQ(word, 0x0203);
}

TEST_F(LibusbTest, ShortReplyIsAcceptedAndLeavesTheRestOfTheReplyArea) {
  connect();
  arm(logger(), FaultKind::kShortReply, 0x02, 7);
  std::memset(link::buffer0().reply, 0xEE, 64);
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  ASSERT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);
  EXPECT_EQ(word, 0x0203);  // bytes 5-6 arrived
  EXPECT_EQ(a, 0xEE);       // bytes 7-9 never did
  EXPECT_EQ(b, 0xEE);
  EXPECT_EQ(c, 0xEE);
}

}  // namespace
}  // namespace maltor::test
