// Helpers shared by the device-link tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sim_fixture.h"

namespace maltor::test {

struct FirmwareVersion {
  std::uint16_t word = 0xEEEE;
  std::uint8_t v1 = 0xEE;
  std::uint8_t v2 = 0xEE;
  std::uint8_t v3 = 0xEE;
  bool operator==(const FirmwareVersion&) const = default;
};

inline std::uint8_t get_firmware_version(FirmwareVersion* out) {
  return SCGetFirmwareVersion(&out->word, &out->v1, &out->v2, &out->v3);
}

using LinkTest = SimTest;

// The device table is the one piece of the link these tests read directly:
// which slots hold an open device is not visible through the exports. It is
// byte-packed, so its wider fields are read by value, never bound to a
// reference (which could be misaligned).
inline platform::Handle usb_handle(int slot) {
  return link::g_table.slots[slot].usb;
}
inline platform::Handle file_handle(int slot) {
  return link::g_table.slots[slot].file;
}

// The device table as ResetDeviceTable leaves it.
inline link::DeviceTable empty_table() {
  link::DeviceTable table;
  std::memset(&table, 0, sizeof table);
  for (int i = 0; i < link::kSlotCount; ++i) {
    table.slots[i].file = link::kInvalidHandle;
    table.slots[i].usb = link::kInvalidHandle;
    table.slots[i].buffer = &link::g_buffers[i];
  }
  return table;
}

inline bool table_is_empty() {
  const link::DeviceTable expected = empty_table();
  return std::memcmp(&expected, &link::g_table, sizeof expected) == 0;
}

// Raw bytes of the device table, to show that a call changed nothing.
inline std::vector<std::uint8_t> table_bytes() {
  const auto* at = reinterpret_cast<const std::uint8_t*>(&link::g_table);
  return {at, at + sizeof link::g_table};
}

// Manual clock for the guard's lifetime. Declare it after the futures of
// the calls it holds: going back to automatic mode releases their waits, so
// a failed check cannot leave a thread blocked.
class ManualClock {
 public:
  ManualClock() { MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL); }
  ~ManualClock() { MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO); }
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;
};

// Waits (a bounded real time) until `count` threads block on the virtual clock.
inline bool clock_waiters_reach(std::uint32_t count) {
  for (int i = 0; i < 5000 && MaltorSim_ClockWaiters() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return MaltorSim_ClockWaiters() == count;
}

// A logger update held by the manual clock at its first stop check for the
// guard's lifetime; the guard stops it and waits for its thread to end. The
// update ends with the device closed.
class UpdateHeld {
 public:
  UpdateHeld() {
    const std::string base =
        (std::filesystem::temp_directory_path() / ("maltor_held_" + std::to_string(getpid())))
            .string();
    image_ = base + ".bin";
    log_ = base + ".log";
    std::ofstream(image_, std::ios::binary) << std::string(100, 'u');
    ReflashStatusCallBack([](std::uint32_t) {});
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_MANUAL);
    EXPECT_EQ(UpdateLoggerFirmware(image_.c_str(), log_.c_str()), MALTOR_OK);
  }
  ~UpdateHeld() {
    StopFirmwareUpdate();
    MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
    EXPECT_EQ(MaltorWaitForUpdate(60000), MALTOR_OK);
    ReflashStatusCallBack(nullptr);
    std::filesystem::remove(image_);
    std::filesystem::remove(log_);
  }
  UpdateHeld(const UpdateHeld&) = delete;
  UpdateHeld& operator=(const UpdateHeld&) = delete;

 private:
  std::string image_, log_;
};

}  // namespace maltor::test
