// The USB identity each kind of device answers with: the vendor and product
// id of its device descriptor. These are the device's own values; the host
// library keeps its own table of the kinds it recognises, and the virtual
// device is what checks that table.
#pragma once

#include <cstdint>

namespace maltor::sim {

struct UsbIdentity {
  std::uint8_t kind;
  std::uint16_t vendor;
  std::uint16_t product;
};

inline constexpr std::uint16_t kMaltorVendor = 0x4D54;

// Every kind the maker builds; there is no kind 4.
inline constexpr UsbIdentity kUsbIdentities[] = {
    {1, kMaltorVendor, 0x0001},
    {2, kMaltorVendor, 0x0002},
    {3, kMaltorVendor, 0x0003},
    {5, kMaltorVendor, 0x0005},
};

// Another maker's device on the same bus.
inline constexpr UsbIdentity kForeignIdentity = {0, 0x1234, 0x5678};

// The identity of a kind, or null when the maker builds no such kind.
constexpr const UsbIdentity* usb_identity(std::uint8_t kind) {
  for (const UsbIdentity& identity : kUsbIdentities) {
    if (identity.kind == kind) return &identity;
  }
  return nullptr;
}

}  // namespace maltor::sim
