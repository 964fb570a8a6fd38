// The emulated bus every libusb backend test runs on, and a fresh library for
// each test. The bus lives for the whole test program: libusb keeps one
// context, which must find the testbed in place when it starts.
//
// Bus 1: port 1 a kind-1 logger (high speed, serial MTR0001), port 2 a kind-2
// device (full speed, serial MTR0002), port 3 a foreign device. Port 4 holds
// a kind-3 device (high speed, serial MTR0003) while a test plugs it in.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "MaltorUSBdrv.h"
#include "device_rig.h"
#include "emulated_device.h"

namespace maltor::test {

struct EmulatedBus {
  UMockdevTestbed* testbed;
  std::unique_ptr<EmulatedDevice> logger;   // port 1
  std::unique_ptr<EmulatedDevice> second;   // port 2
  std::unique_ptr<EmulatedDevice> foreign;  // port 3
  std::unique_ptr<EmulatedDevice> third;    // port 4
};

// The bus, created on first use.
EmulatedBus& bus();

// Each test starts from the device cases' rig: the three devices plugged in
// with fresh models, none held by the library.
class LibusbTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Discovery through the exports; slot 0 then holds the logger on port 1.
  void connect() { ASSERT_EQ(DeviceIsReady(), 4); }

  static EmulatedDevice& logger() { return *bus().logger; }
  static EmulatedDevice& third() { return *bus().third; }
};

}  // namespace maltor::test
