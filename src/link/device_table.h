// The library-wide device table: ten slots, each with its own static transfer
// buffer. Slot 0 is the only one any exchange uses; the others record further
// devices that discovery found.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/exchange_lock.h"
#include "platform/usb.h"

namespace maltor::link {

using platform::Handle;
using platform::kInvalidHandle;

inline constexpr int kSlotCount = 10;
inline constexpr std::uint32_t kAreaSize = 32768;
inline constexpr std::uint8_t kMaxDeviceCount = 9;  // the count stops one short of the slots
inline constexpr std::uint32_t kDevicePathSize = 400;

inline constexpr std::uint8_t kCommandInPipe = 0x82;
inline constexpr std::uint8_t kCommandOutPipe = 0x02;
inline constexpr std::uint8_t kStreamInPipe = 0x83;
inline constexpr std::uint8_t kStreamOutPipe = 0x03;

#pragma pack(push, 1)
// Control header, request area and reply area of one slot.
struct TransferBuffer {
  std::uint32_t timeout_ms;
  std::uint32_t bytes_to_write;
  std::uint32_t bytes_to_read;
  std::uint8_t request[kAreaSize];
  std::uint8_t reply[kAreaSize];
};

struct DeviceSlot {
  std::uint8_t kind;
  std::uint8_t command_in_pipe;
  std::uint8_t command_out_pipe;
  std::uint8_t second_in_pipe;
  std::uint8_t second_out_pipe;
  std::uint8_t present;
  Handle file;
  Handle usb;
  std::uint64_t reserved_word;
  std::uint16_t reserved_half;
  char path[kDevicePathSize];
  TransferBuffer* buffer;
};

struct DeviceTable {
  std::uint8_t device_count;
  DeviceSlot slots[kSlotCount];
};
#pragma pack(pop)

static_assert(sizeof(TransferBuffer) == 65548);

// The table and the library-wide values that go with it.
extern DeviceTable g_table;
extern TransferBuffer g_buffers[kSlotCount];
extern std::uint8_t g_high_speed;

// The number of the running firmware update (each start counts one up);
// kNoUpdateRun when none runs. Atomic because the update thread clears it
// while callers read it.
inline constexpr std::uint64_t kNoUpdateRun = ~std::uint64_t{0};
extern std::atomic<std::uint64_t> g_update_run;

inline bool update_running() {
  return g_update_run.load() != kNoUpdateRun;
}
inline DeviceSlot& slot0() {
  return g_table.slots[0];
}
inline TransferBuffer& buffer0() MALTOR_REQUIRES(g_exchange_lock) {
  return g_buffers[0];
}
inline bool device_open() {
  return slot0().usb != kInvalidHandle;
}

// The four kind id strings: the first 21 characters of a device-instance id,
// naming the USB vendor and product id of each device kind.
struct DeviceKind {
  std::uint8_t kind;
  std::uint16_t vendor_id;
  std::uint16_t product_id;
  const char* id;
};
inline constexpr std::uint16_t kVendorId = 0x4D54;
// In the order discovery compares them.
inline constexpr DeviceKind kDeviceKinds[4] = {
    {3, kVendorId, 0x0003, "USB\\VID_4D54&PID_0003"},
    {2, kVendorId, 0x0002, "USB\\VID_4D54&PID_0002"},
    {1, kVendorId, 0x0001, "USB\\VID_4D54&PID_0001"},
    {5, kVendorId, 0x0005, "USB\\VID_4D54&PID_0005"},
};
inline constexpr int kKindIdLength = 21;

// Empties the table: every slot zero, both handles invalid, buffer pointers set.
void ResetDeviceTable() MALTOR_REQUIRES(g_exchange_lock);
// Fills free slots with devices found that are not yet held. Call only while
// slot 0 holds no open device. With a device chosen (device_choice.h) only
// that device is opened.
void DiscoverDevices() MALTOR_REQUIRES(g_exchange_lock);
// Releases a slot's USB interface and file handle and clears its path; kind
// and pipe ids stay.
void CloseSlot(DeviceSlot& slot) MALTOR_REQUIRES(g_exchange_lock);
// The kind a present device is discovered as, or 0 when discovery skips it
// (another vendor's device, no interface path, or a path no slot can hold).
std::uint8_t discoverable_kind(const platform::DeviceEntry& entry);
// Runs discovery unless an update is running; true when slot 0 is open after.
// Takes the exchange lock.
bool ReopenDevice();

}  // namespace maltor::link
