// The emulated bus every libusb backend test runs on, and a fresh library for
// each test. The bus lives for the whole test program: libusb keeps one
// context, which must find the testbed in place when it starts.
//
// Bus 1: port 1 a kind-1 logger (high speed, serial MTR0001), port 2 a kind-2
// device (full speed, serial MTR0002), port 3 a foreign device. Port 4 holds
// a kind-3 device (high speed, serial MTR0003) while a test plugs it in.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "MaltorUSBdrv.h"
#include "emulated_device.h"
#include "link/device_table.h"
#include "link/exchange.h"
#include "platform/usb.h"

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

class LibusbTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Discovery through the exports; slot 0 then holds the logger on port 1.
  void connect() { ASSERT_EQ(DeviceIsReady(), 4); }

  // Read by value: the table is byte-packed.
  static bool slot_open(int slot) { return link::g_table.slots[slot].usb != link::kInvalidHandle; }

  static EmulatedDevice& logger() { return *bus().logger; }
  static EmulatedDevice& second() { return *bus().second; }
  static EmulatedDevice& third() { return *bus().third; }

  using Clock = std::chrono::steady_clock;
  static long elapsed_ms(Clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
  }

  // Polls `done` until it holds or `limit_ms` of real time passed. For
  // conditions that another thread or libusb's hotplug handling brings about.
  template <typename Done>
  static bool eventually(Done done, long limit_ms = 2000) {
    const Clock::time_point start = Clock::now();
    while (!done()) {
      if (elapsed_ms(start) > limit_ms) return false;
      std::this_thread::yield();
    }
    return true;
  }
};

}  // namespace maltor::test
