// Several devices on one host: listing the present ones without claiming any,
// and choosing the one that discovery opens, so that each process can work
// with its own device.
#pragma once

#include <cstdint>

#include "MaltorUSBdrv.h"
#include "link/device_table.h"

namespace maltor::link {

// The device discovery is limited to. Inactive: every device, as discovery
// always was. An id too long for any serial, location or path is kept as a
// choice that nothing matches.
struct DeviceChoice {
  bool active;
  bool unmatchable;
  char id[kDevicePathSize];
};

// A copy of the current choice, taken once per discovery.
DeviceChoice current_choice();

// True when the device's serial, location or path equals the chosen id
// (always true without a choice).
bool choice_matches(const DeviceChoice& choice, const platform::DeviceEntry& entry);

// The present devices of the four kinds in discovery order; fills at most
// `capacity` records and returns how many there are.
std::uint32_t list_devices(MaltorDeviceInfo* out, std::uint32_t capacity);

// Makes `id` the choice (null or "" removes it) and closes what it leaves out:
// slot 0 unless it holds the chosen device, and every other slot. 0, or 7
// when no present device matches; 1 and nothing changed while an update is alive.
std::uint8_t select_device(const char* id);

}  // namespace maltor::link
