// Why a device on the bus may stay invisible to this user.
#pragma once

#include <string>

namespace maltor::tool {

#if defined(__linux__)
// A hint naming each Maltor device (USB vendor 4d54) under /sys/bus/usb/devices
// whose /dev/bus/usb node this user cannot read and write; empty when there is none.
std::string usb_access_hint();
#else
// Other hosts open devices through their own driver; maltor doctor looks at it.
inline std::string usb_access_hint() {
  return {};
}
#endif

}  // namespace maltor::tool
