// Helpers shared by the device-link tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
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

// Virtual milliseconds that `call` takes.
template <typename Call>
std::uint64_t virtual_ms(Call&& call) {
  const std::uint64_t start = MaltorSim_ClockNow();
  call();
  return MaltorSim_ClockNow() - start;
}

class LinkTest : public SimTest {
 protected:
  // Transfers of the trace on one pipe.
  static std::size_t transfers_on(std::uint8_t pipe) {
    std::size_t n = 0;
    for (const Transfer& t : trace()) n += t.pipe == pipe ? 1 : 0;
    return n;
  }
};

// The table and buffers are byte-packed: their wider fields are read by
// value, never bound to a reference (which could be misaligned).
inline platform::Handle usb_handle(int slot) {
  return link::g_table.slots[slot].usb;
}
inline platform::Handle file_handle(int slot) {
  return link::g_table.slots[slot].file;
}
struct Header {
  std::uint32_t timeout_ms;
  std::uint32_t bytes_to_write;
  std::uint32_t bytes_to_read;
};
inline Header header0() {
  const link::TransferBuffer& buffer = link::buffer0();
  return {buffer.timeout_ms, buffer.bytes_to_write, buffer.bytes_to_read};
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

// Marks a firmware update as running for the guard's lifetime.
class UpdateMarked {
 public:
  UpdateMarked() { link::g_update_marker.store(0x1234); }
  ~UpdateMarked() { link::g_update_marker.store(link::kInvalidHandle); }
  UpdateMarked(const UpdateMarked&) = delete;
  UpdateMarked& operator=(const UpdateMarked&) = delete;
};

}  // namespace maltor::test
