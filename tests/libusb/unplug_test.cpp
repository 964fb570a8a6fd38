// A device that vanishes while the library waits for its reply.
#include "libusb_fixture.h"

namespace maltor::test {
namespace {

using link::g_table;
using platform::IoStatus;

TEST_F(LibusbTest, UnplugDuringAReadFailsTheExchangeAndTheNextReadinessCheck) {
  connect();
  const platform::Handle old_usb = link::slot0().usb;
  logger().with_model([](sim::DeviceModel& model) {
    return model.arm_fault(sim::FaultKind::kUnplugOnRead, 0x02, 0, 0);
  });
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_ERR_EXCHANGE);
  EXPECT_LT(elapsed_ms(start), 2000) << "the read failed at once, not after its 5,000 ms wait";

  // Every later transfer on the vanished device reports it gone at start.
  platform::IoRecord io;
  platform::io_open(io, false);
  std::uint8_t reply[16];
  std::uint32_t count = 0;
  EXPECT_EQ(platform::pipe_read_async(old_usb, 0x82, reply, sizeof reply, io, &count),
            IoStatus::kGone);
  platform::io_close(io);

  logger().unplug();
  EXPECT_EQ(DeviceIsReady(), 0);
  EXPECT_FALSE(slot_open(0));
  EXPECT_FALSE(slot_open(1));

  // The next call finds the device still plugged in, on port 2.
  ASSERT_EQ(DeviceIsReady(), 4);
  EXPECT_EQ(g_table.slots[0].kind, 2);
  EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);

  // Plugged back in, the logger is found on its port again.
  logger().plug();
  ASSERT_TRUE(eventually([] {
    CloseDevice();
    link::ResetDeviceTable();
    return DeviceIsReady() == 4 && g_table.slots[0].kind == 1;
  }));
  EXPECT_STREQ(g_table.slots[0].path, "usb:1-1");
  EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);
}

}  // namespace
}  // namespace maltor::test
