// Enumerating, listing and choosing among three devices through the libusb
// backend, with a second libusb user standing in for another program on the
// same bus. (The shared device cases choose by serial, location and path on
// both backends.)
#include <libusb.h>

#include <string>
#include <vector>

#include "libusb_fixture.h"
#include "platform/usb.h"

namespace maltor::test {
namespace {

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

// Another program's view of the bus: its own libusb context and its own open
// files, so its claims compete with the library's as another process's would.
class OtherProgram {
 public:
  OtherProgram() { libusb_init(&context_); }
  ~OtherProgram() {
    for (libusb_device_handle* handle : handles_) {
      libusb_release_interface(handle, 0);
      libusb_close(handle);
    }
    libusb_exit(context_);
  }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;

  // Opens the device on `port` of bus 1 and claims interface 0, as the
  // library does; the libusb result of the claim.
  int claim(int port) {
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    int result = LIBUSB_ERROR_NOT_FOUND;
    for (ssize_t i = 0; i < count; ++i) {
      std::uint8_t ports[7];
      if (libusb_get_port_numbers(list[i], ports, 7) != 1 || ports[0] != port) continue;
      libusb_device_handle* handle = nullptr;
      result = libusb_open(list[i], &handle);
      if (result != LIBUSB_SUCCESS) break;
      result = libusb_claim_interface(handle, 0);
      if (result == LIBUSB_SUCCESS) {
        handles_.push_back(handle);
      } else {
        libusb_close(handle);
      }
      break;
    }
    if (list != nullptr) libusb_free_device_list(list, 1);
    return result;
  }

 private:
  libusb_context* context_ = nullptr;
  std::vector<libusb_device_handle*> handles_;
};

std::vector<MaltorDeviceInfo> listed() {
  std::vector<MaltorDeviceInfo> devices(8);
  devices.resize(MaltorListDevices(devices.data(), static_cast<std::uint32_t>(devices.size())));
  return devices;
}

// Three of the maker's devices: port 4's joins the bus.
class ThreeDevices : public LibusbTest {
 protected:
  void SetUp() override {
    LibusbTest::SetUp();
    third().plug();
  }
};

TEST_F(ThreeDevices, ListsSerialLocationAndPathWithoutClaiming) {
  const std::vector<MaltorDeviceInfo> devices = listed();
  struct Expected {
    std::uint8_t kind;
    std::uint16_t product;
    const char* serial;
    const char* location;
    const char* path;
  };
  const Expected expected[] = {
      {1, 0x0001, "MTR0001", "1-1", "usb:1-1"},
      {2, 0x0002, "MTR0002", "1-2", "usb:1-2"},
      {3, 0x0003, "MTR0003", "1-4", "usb:1-4"},
  };
  ASSERT_EQ(devices.size(), std::size(expected));
  for (std::size_t i = 0; i < devices.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(devices[i].kind, expected[i].kind);
    EXPECT_EQ(devices[i].vendor_id, 0x4D54);
    EXPECT_EQ(devices[i].product_id, expected[i].product);
    EXPECT_STREQ(devices[i].serial, expected[i].serial);
    EXPECT_STREQ(devices[i].location, expected[i].location);
    EXPECT_STREQ(devices[i].path, expected[i].path);
    EXPECT_EQ(devices[i].in_use, 0);
  }

  OtherProgram other;
  for (int port : {1, 2, 4}) EXPECT_EQ(other.claim(port), LIBUSB_SUCCESS) << port;
  for (const MaltorDeviceInfo& device : listed()) EXPECT_EQ(device.in_use, 2) << device.path;
  // Discovery finds every device held and opens none.
  EXPECT_EQ(DeviceIsReady(), 0);
}

TEST_F(ThreeDevices, AChosenDeviceIsTheOnlyOneOpenedAndTheOthersStayFree) {
  struct Case {
    const char* id;
    const char* path;
    int port;
  };
  const Case cases[] = {
      {"MTR0002", "usb:1-2", 2},  // serial
      {"1-4", "usb:1-4", 4},      // location
      {"usb:1-1", "usb:1-1", 1},  // path
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_EQ(MaltorSelectDevice(c.id), MALTOR_OK);
    ASSERT_EQ(DeviceIsReady(), 4);
    std::uint16_t word = 0;
    std::uint8_t a = 0, b = 0, d = 0;
    EXPECT_EQ(SCGetFirmwareVersion(&word, &a, &b, &d), MALTOR_OK);

    // Only the chosen device is held: the other program takes every other one.
    OtherProgram other;
    for (int port : {1, 2, 4}) {
      EXPECT_EQ(other.claim(port), port == c.port ? LIBUSB_ERROR_BUSY : LIBUSB_SUCCESS) << port;
    }
    for (const MaltorDeviceInfo& device : listed()) {
      EXPECT_EQ(device.in_use, std::string(device.path) == c.path ? 1 : 2) << device.path;
    }
    CloseDevice();
  }
}

}  // namespace
}  // namespace maltor::test
