#include "link/device_table.h"

#include <cstring>

#include "link/device_choice.h"

namespace maltor::link {

TransferBuffer g_buffers[kSlotCount];

namespace {

// The table as a reset leaves it. The table starts out this way at compile
// time, so it is valid even where no load-time action runs (a static link).
constexpr DeviceTable empty_table() {
  DeviceTable table{};
  for (int i = 0; i < kSlotCount; ++i) {
    table.slots[i].file = kInvalidHandle;
    table.slots[i].usb = kInvalidHandle;
    table.slots[i].buffer = &g_buffers[i];
  }
  return table;
}

}  // namespace

constinit DeviceTable g_table = empty_table();
std::uint8_t g_high_speed = 0;
std::atomic<std::uint64_t> g_update_run{kNoUpdateRun};

void ResetDeviceTable() {
  std::memset(&g_table, 0, sizeof g_table);
  for (int i = 0; i < kSlotCount; ++i) {
    g_table.slots[i].file = kInvalidHandle;
    g_table.slots[i].usb = kInvalidHandle;
    g_table.slots[i].buffer = &g_buffers[i];
  }
}

namespace {

// The kind whose id string equals the first 21 characters of an instance id.
std::uint8_t match_kind(const char* instance_id) {
  if (std::strlen(instance_id) < static_cast<std::size_t>(kKindIdLength)) return 0;
  for (const DeviceKind& kind : kDeviceKinds) {
    if (std::strncmp(instance_id, kind.id, kKindIdLength) == 0) return kind.kind;
  }
  return 0;
}

// Closes what discovery opened for a device it then skips.
void release(Handle file, Handle usb) {
  if (usb != kInvalidHandle) platform::usb_free(usb);
  platform::close_device_file(file);
}

bool visit_device(void* context, const platform::DeviceEntry& entry) {
  const DeviceChoice& choice = *static_cast<const DeviceChoice*>(context);
  const std::uint8_t kind = discoverable_kind(entry);
  if (kind == 0 || !choice_matches(choice, entry)) return true;

  bool held = false;
  DeviceSlot* free_slot = nullptr;
  for (DeviceSlot& slot : g_table.slots) {
    if (std::strncmp(slot.path, entry.path, kDevicePathSize) == 0) held = true;
    if (free_slot == nullptr && slot.usb == kInvalidHandle) free_slot = &slot;
  }
  if (held || free_slot == nullptr) return true;

  const Handle file = platform::open_device_file(entry.path);
  if (file == kInvalidHandle) return true;
  const Handle usb = platform::usb_initialize(file);
  if (usb == kInvalidHandle) {
    release(file, kInvalidHandle);
    return true;
  }
  std::uint8_t speed = 0;
  std::uint8_t endpoints = 0;
  if (!platform::query_device_speed(usb, &speed) ||
      !platform::query_endpoint_count(usb, 0, &endpoints)) {
    release(file, usb);
    return true;
  }

  free_slot->kind = kind;
  free_slot->file = file;
  free_slot->usb = usb;
  if (g_table.device_count < kMaxDeviceCount) ++g_table.device_count;
  std::memcpy(free_slot->path, entry.path, std::strlen(entry.path) + 1);
  free_slot->command_in_pipe = kCommandInPipe;
  free_slot->command_out_pipe = kCommandOutPipe;
  free_slot->second_in_pipe = kStreamInPipe;
  free_slot->second_out_pipe = kStreamOutPipe;
  // A chosen device is the only one opened; other processes may want the rest.
  return !choice.active;
}

}  // namespace

std::uint8_t discoverable_kind(const platform::DeviceEntry& entry) {
  // A path that does not fit the slot's field could never be matched again
  // when the next discovery checks for duplicates, so such a device is skipped.
  if (entry.path[0] == '\0' || std::strlen(entry.path) >= kDevicePathSize) return 0;
  return match_kind(entry.instance_id);
}

void DiscoverDevices() {
  slot0().usb = kInvalidHandle;
  DeviceChoice choice = current_choice();
  platform::enumerate_devices(visit_device, &choice);
}

void CloseSlot(DeviceSlot& slot) {
  if (slot.usb != 0 && slot.usb != kInvalidHandle) platform::usb_free(slot.usb);
  slot.usb = kInvalidHandle;
  platform::close_device_file(slot.file);
  slot.file = kInvalidHandle;
  std::memset(slot.path, 0, sizeof slot.path);
}

bool ReopenDevice() {
  const SlotLock held;
  if (update_running()) return true;
  DiscoverDevices();
  return device_open();
}

}  // namespace maltor::link

// The platform's discovery asks for it; see platform/usb.h.
std::uint16_t maltor::platform::serial_vendor_id() {
  return maltor::link::kVendorId;
}
