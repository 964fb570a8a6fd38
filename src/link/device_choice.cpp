#include "link/device_choice.h"

#include <cstring>

#include "link/result.h"
#include "platform/mutex.h"

namespace maltor::link {

namespace {

// Guards the choice: discovery may run on the update thread while the
// application's thread changes it.
Mutex g_choice_lock;
DeviceChoice g_choice MALTOR_GUARDED_BY(g_choice_lock) = {};

// Copies a NUL-terminated text into a fixed field, cut to fit.
template <std::size_t N>
void copy_text(char (&field)[N], const char* text) {
  std::size_t length = 0;
  while (length < N - 1 && text[length] != '\0') ++length;
  std::memcpy(field, text, length);
  std::memset(field + length, 0, N - length);
}

bool held_by_a_slot(const char* path) {
  for (const DeviceSlot& slot : g_table.slots) {
    if (slot.usb != kInvalidHandle && std::strncmp(slot.path, path, kDevicePathSize) == 0) {
      return true;
    }
  }
  return false;
}

struct Listing {
  MaltorDeviceInfo* out;
  std::uint32_t capacity;
  std::uint32_t count;
};

bool list_one(void* context, const platform::DeviceEntry& entry) {
  Listing& listing = *static_cast<Listing*>(context);
  const std::uint8_t kind = discoverable_kind(entry);
  if (kind == 0) return true;
  if (listing.out != nullptr && listing.count < listing.capacity) {
    MaltorDeviceInfo& info = listing.out[listing.count];
    std::memset(&info, 0, sizeof info);
    info.kind = kind;
    for (const DeviceKind& known : kDeviceKinds) {
      if (known.kind != kind) continue;
      info.vendor_id = known.vendor_id;
      info.product_id = known.product_id;
    }
    copy_text(info.serial, entry.serial);
    copy_text(info.location, entry.location);
    copy_text(info.path, entry.path);
    if (held_by_a_slot(entry.path)) {
      info.in_use = 1;
    } else if (platform::held_elsewhere(entry)) {
      info.in_use = 2;
    }
  }
  if (listing.count != UINT32_MAX) ++listing.count;
  return true;
}

struct Matches {
  DeviceChoice choice;
  bool found;
  bool slot0_chosen;  // slot 0 holds a device the choice matches
};

bool match_one(void* context, const platform::DeviceEntry& entry) {
  Matches& matches = *static_cast<Matches*>(context);
  if (discoverable_kind(entry) == 0 || !choice_matches(matches.choice, entry)) return true;
  matches.found = true;
  if (device_open() && std::strncmp(slot0().path, entry.path, kDevicePathSize) == 0) {
    matches.slot0_chosen = true;
  }
  return true;
}

}  // namespace

DeviceChoice current_choice() {
  const MutexLock held(g_choice_lock);
  return g_choice;
}

bool choice_matches(const DeviceChoice& choice, const platform::DeviceEntry& entry) {
  if (!choice.active) return true;
  if (choice.unmatchable) return false;
  return std::strcmp(entry.path, choice.id) == 0 ||
         (entry.serial[0] != '\0' && std::strcmp(entry.serial, choice.id) == 0) ||
         (entry.location[0] != '\0' && std::strcmp(entry.location, choice.id) == 0);
}

std::uint32_t list_devices(MaltorDeviceInfo* out, std::uint32_t capacity) {
  const SlotLock held;  // which devices the table holds
  Listing listing{out, capacity, 0};
  platform::enumerate_devices(list_one, &listing);
  return listing.count;
}

std::uint8_t select_device(const char* id) {
  // The update, its tail included, needs the table as it is.
  if (update_alive()) return kUpdateRunning;
  const SlotLock table;
  DeviceChoice choice{};
  if (id != nullptr && id[0] != '\0') {
    choice.active = true;
    choice.unmatchable = std::strlen(id) >= sizeof choice.id;
    if (!choice.unmatchable) copy_text(choice.id, id);
  }
  {
    const MutexLock held(g_choice_lock);
    g_choice = choice;
  }
  if (!choice.active) return kOk;

  Matches matches{choice, false, false};
  platform::enumerate_devices(match_one, &matches);
  // The devices left out are released so that other processes can open them;
  // the chosen one, when it is not in slot 0, is opened there by the next
  // discovery.
  for (int i = matches.slot0_chosen ? 1 : 0; i < kSlotCount; ++i) {
    if (g_table.slots[i].file != kInvalidHandle || g_table.slots[i].usb != kInvalidHandle) {
      CloseSlot(g_table.slots[i]);
    }
  }
  return matches.found ? kOk : kNoDevice;
}

}  // namespace maltor::link
