// Discovery and connection through the libusb backend on the emulated bus.
#include <string>
#include <vector>

#include "libusb_fixture.h"

namespace maltor::test {
namespace {

using link::g_table;
using link::kInvalidHandle;

std::vector<platform::DeviceEntry> enumerated() {
  std::vector<platform::DeviceEntry> entries;
  platform::enumerate_devices(
      [](void* out, const platform::DeviceEntry& entry) {
        static_cast<std::vector<platform::DeviceEntry>*>(out)->push_back(entry);
        return true;
      },
      &entries);
  return entries;
}

TEST_F(LibusbTest, EnumeratesByPortWithInstanceIdsAndPortPaths) {
  const std::vector<platform::DeviceEntry> entries = enumerated();
  struct Expected {
    const char* instance_id;
    const char* path;
  };
  const Expected expected[] = {
      {"USB\\VID_4D54&PID_0001\\MTR0001", "usb:1-1"},
      {"USB\\VID_4D54&PID_0002\\MTR0002", "usb:1-2"},
      {"USB\\VID_1234&PID_5678\\1-3", "usb:1-3"},  // no serial: named by bus and port
  };
  ASSERT_EQ(entries.size(), std::size(expected));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_STREQ(entries[i].instance_id, expected[i].instance_id) << i;
    EXPECT_STREQ(entries[i].path, expected[i].path) << i;
  }
}

TEST_F(LibusbTest, DiscoveryFillsSlotsZeroAndOneAndSkipsTheForeignDevice) {
  connect();
  EXPECT_EQ(g_table.device_count, 2);
  EXPECT_EQ(g_table.slots[0].kind, 1);
  EXPECT_STREQ(g_table.slots[0].path, "usb:1-1");
  EXPECT_EQ(g_table.slots[1].kind, 2);
  EXPECT_STREQ(g_table.slots[1].path, "usb:1-2");
  EXPECT_FALSE(slot_open(2));
  EXPECT_EQ(link::g_high_speed, 1);

  std::uint8_t speed = 0;
  ASSERT_TRUE(platform::query_device_speed(g_table.slots[1].usb, &speed));
  EXPECT_EQ(speed, 1);  // full speed

  MaltorConnection record{};
  ASSERT_EQ(GetConnected(&record), MALTOR_OK);
  EXPECT_EQ(record.device_kind, 1);
  const std::uint64_t handle = record.file_handle;
  const platform::Handle file = g_table.slots[0].file;
  EXPECT_EQ(handle, file);
  EXPECT_NE(handle, kInvalidHandle);
}

TEST_F(LibusbTest, ReopensAfterCloseAndAfterATableResetThatLeftItOpen) {
  connect();
  CloseDevice();
  EXPECT_FALSE(slot_open(0));
  ASSERT_EQ(DeviceIsReady(), 4) << "interface 0 was released by CloseDevice";
  EXPECT_STREQ(g_table.slots[0].path, "usb:1-1");

  // A reset forgets both open devices without closing them; opening them
  // again must not fail on the interfaces they still claim.
  link::ResetDeviceTable();
  ASSERT_EQ(DeviceIsReady(), 4);
  EXPECT_STREQ(g_table.slots[0].path, "usb:1-1");
  EXPECT_STREQ(g_table.slots[1].path, "usb:1-2");
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &c), MALTOR_OK);
}

}  // namespace
}  // namespace maltor::test
