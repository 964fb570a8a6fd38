// maltor doctor against USB devices emulated with umockdev: the tool runs as
// a child of this program and inherits the testbed, so its look at sysfs and
// /dev/bus/usb sees the emulated bus.
#include <gtest/gtest.h>
#include <umockdev.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tool_process.h"

namespace {

// A device of vendor `vendor` on port `port`; without a node, as when udev
// has not made one or it vanished, it cannot be opened whoever asks.
std::string device_record(int port, const char* vendor, bool with_node) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
                "%s"
                "E: DEVNAME=/dev/bus/usb/001/%03d\n"
                "E: DEVTYPE=usb_device\n"
                "E: SUBSYSTEM=usb\n"
                "E: BUSNUM=001\n"
                "E: DEVNUM=%03d\n"
                "A: idVendor=%s\n"
                "A: idProduct=0001\n"
                "A: busnum=1\n"
                "A: devnum=%d\n"
                "A: speed=480\n",
                port,
                with_node ? ("N: bus/usb/001/" + std::to_string(100 + port) + "\n").c_str() : "",
                100 + port, 100 + port, vendor, 100 + port);
  return text;
}

// Interface 0 of the device on `port`, bound to the kernel driver `driver`.
std::string interface_record(int port, const char* driver) {
  char text[512];
  std::snprintf(text, sizeof text,
                "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d/1-%d:1.0\n"
                "E: DEVTYPE=usb_interface\n"
                "E: SUBSYSTEM=usb\n"
                "E: DRIVER=%s\n"
                "L: driver=../../../../../../bus/usb/drivers/%s\n"
                "A: bInterfaceNumber=00\n",
                port, port, driver, driver);
  return text;
}

maltor::test::ToolRun doctor() {
  return maltor::test::run_shell(std::string("'") + MALTOR_TOOL_PATH + "' --lib '" +
                                 MALTOR_LIBRARY + "' doctor --json");
}

TEST(DoctorTest, EachCheckSaysWhatItFoundOnTheEmulatedBus) {
  struct Case {
    const char* name;
    std::vector<std::string> records;
    std::vector<std::string> expected;  // each found in the JSON document
  };
  const std::string node = "/dev/bus/usb/001/101";
  const std::vector<Case> cases = {
      {"none: a foreign device only",
       {device_record(1, "1234", true)},
       {R"({"check":"devices","status":"failed","found":"no Maltor device (USB vendor 4d54) on the bus","fix":"plug the device in)"}},
      {"present and free",
       {device_record(1, "4d54", true)},
       {R"({"check":"devices","status":"ok","found":"4d54:0001 at )" + node + "\"",
        R"({"check":"access )" + node + R"(","status":"ok")",
        R"({"check":"interface 0 of )" + node + R"(","status":"ok","found":"free")"}},
      {"present, node cannot be opened",
       {device_record(1, "4d54", false)},
       {R"({"check":"access )" + node +
        R"(","status":"failed","found":"this user cannot open it: No such file or directory","fix":"install the udev rule)"}},
      {"present, a kernel driver holds interface 0",
       {device_record(1, "4d54", true), interface_record(1, "usbhid")},
       {R"({"check":"interface 0 of )" + node +
        R"(","status":"failed","found":"the kernel driver usbhid is bound to it","fix":"unbind it: echo 1-1:1.0 | sudo tee /sys/bus/usb/drivers/usbhid/unbind"})"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UMockdevTestbed* testbed = umockdev_testbed_new();
    for (const std::string& record : c.records) {
      GError* error = nullptr;
      ASSERT_TRUE(umockdev_testbed_add_from_string(testbed, record.c_str(), &error))
          << (error != nullptr ? error->message : "");
    }
    const maltor::test::ToolRun run = doctor();
    // The library loads; the device checks decide.
    EXPECT_NE(run.out.find(R"({"check":"library","status":"ok")"), std::string::npos) << run.out;
    for (const std::string& text : c.expected) {
      EXPECT_NE(run.out.find(text), std::string::npos) << text << "\nin: " << run.out;
    }
    EXPECT_EQ(run.exit_code, run.out.find("\"status\":\"failed\"") != std::string::npos ? 1 : 0);
    g_object_unref(testbed);
  }
}

}  // namespace
