// Discovery over libusb: present devices in bus order, named as the core
// expects ("USB\VID_xxxx&PID_xxxx\<serial or bus-port>") with a path built
// from the bus and port numbers, which stays the same across re-plugging.
#if defined(__linux__)
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/libusb/libusb_state.h"

namespace maltor::platform {

using namespace libusb_backend;

namespace libusb_backend {

namespace {

constexpr int kMaxPorts = 7;  // USB 3 allows a chain of seven

struct Located {
  libusb_device* device;
  std::uint8_t bus;
  std::uint8_t port_count;
  std::uint8_t ports[kMaxPorts];
};

Located locate(libusb_device* device) {
  Located at{device, libusb_get_bus_number(device), 0, {}};
  const int count = libusb_get_port_numbers(device, at.ports, kMaxPorts);
  at.port_count = static_cast<std::uint8_t>(count > 0 ? count : 0);
  return at;
}

// Bus enumeration order: by bus, then by the chain of ports from the root.
bool before(const Located& a, const Located& b) {
  if (a.bus != b.bus) return a.bus < b.bus;
  return std::lexicographical_compare(a.ports, a.ports + a.port_count, b.ports,
                                      b.ports + b.port_count);
}

// "1-1.4": bus, then ports joined as Linux names them in sysfs.
bool bus_port_text(const Located& at, char* out, std::size_t capacity) {
  int used = std::snprintf(out, capacity, "%u", static_cast<unsigned>(at.bus));
  for (int i = 0; i < at.port_count && used > 0 && static_cast<std::size_t>(used) < capacity; ++i) {
    used += std::snprintf(out + used, capacity - used, "%c%u", i == 0 ? '-' : '.',
                          static_cast<unsigned>(at.ports[i]));
  }
  return used > 0 && static_cast<std::size_t>(used) < capacity;
}

// The serial number of one of the maker's devices, as it reports it. Opening
// the device to read it claims no interface, so a program that holds the
// device keeps it. Other vendors' devices are never opened here, so discovery
// causes no traffic to foreign devices.
bool read_serial(libusb_device* device, const libusb_device_descriptor& descriptor, char* out,
                 int capacity) {
  out[0] = '\0';
  if (descriptor.iSerialNumber == 0 || descriptor.idVendor != serial_vendor_id()) return false;
  libusb_device_handle* handle = nullptr;
  if (libusb_open(device, &handle) != LIBUSB_SUCCESS) return false;
  const int length = libusb_get_string_descriptor_ascii(
      handle, descriptor.iSerialNumber, reinterpret_cast<unsigned char*>(out), capacity);
  libusb_close(handle);
  if (length <= 0) {
    out[0] = '\0';
    return false;
  }
  out[length < capacity ? length : capacity - 1] = '\0';
  return true;
}

// The serial kept to characters an instance id can hold.
void instance_tail(const char* serial, char* out, std::size_t capacity) {
  std::size_t i = 0;
  for (; serial[i] != '\0' && i + 1 < capacity; ++i) {
    const unsigned char c = static_cast<unsigned char>(serial[i]);
    out[i] = std::isalnum(c) || c == '_' || c == '-' || c == '.' ? serial[i] : '_';
  }
  out[i] = '\0';
}

// The present devices, sorted; `list` must be freed by the caller.
int sorted_devices(libusb_device**& list, Located* out, int capacity) {
  list = nullptr;
  if (context() == nullptr) return 0;
  const ssize_t count = libusb_get_device_list(context(), &list);
  int kept = 0;
  for (ssize_t i = 0; i < count && kept < capacity; ++i) out[kept++] = locate(list[i]);
  std::sort(out, out + kept, before);
  return kept;
}

constexpr int kMaxDevices = 128;  // the USB limit per bus is 127

}  // namespace

bool device_path(libusb_device* device, char* out, std::size_t capacity) {
  char bus_port[32];
  if (!bus_port_text(locate(device), bus_port, sizeof bus_port)) return false;
  const int used = std::snprintf(out, capacity, "usb:%s", bus_port);
  return used > 0 && static_cast<std::size_t>(used) < capacity;
}

libusb_device* find_device(const char* path) {
  libusb_device** list = nullptr;
  Located found[kMaxDevices];
  const int count = sorted_devices(list, found, kMaxDevices);
  libusb_device* match = nullptr;
  for (int i = 0; i < count && match == nullptr; ++i) {
    char candidate[kPathSize];
    if (device_path(found[i].device, candidate, sizeof candidate) &&
        std::strcmp(candidate, path) == 0) {
      match = libusb_ref_device(found[i].device);
    }
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  return match;
}

}  // namespace libusb_backend

void backend::enumerate_devices(DeviceVisitor visit, void* context_pointer) {
  libusb_device** list = nullptr;
  Located found[kMaxDevices];
  const int count = sorted_devices(list, found, kMaxDevices);
  for (int i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(found[i].device, &descriptor) != LIBUSB_SUCCESS) continue;
    DeviceEntry entry{};
    if (!bus_port_text(found[i], entry.location, sizeof entry.location)) continue;
    char tail[sizeof entry.serial];
    if (read_serial(found[i].device, descriptor, entry.serial, sizeof entry.serial)) {
      instance_tail(entry.serial, tail, sizeof tail);
    } else {
      std::memcpy(tail, entry.location, sizeof entry.location);
    }
    std::snprintf(entry.instance_id, sizeof entry.instance_id, "USB\\VID_%04X&PID_%04X\\%s",
                  descriptor.idVendor, descriptor.idProduct, tail);
    if (!device_path(found[i].device, entry.path, sizeof entry.path)) entry.path[0] = '\0';
    if (!visit(context_pointer, entry)) break;
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
}

bool held_elsewhere(const DeviceEntry& entry) {
  {
    // Claimed through this library: held here, not elsewhere.
    MutexLock held(g_table_lock);
    for (int i = 0; i < kMaxOpenDevices; ++i) {
      const OpenDevice& device = devices()[i];
      if (device.used && device.claimed && std::strcmp(device.path, entry.path) == 0) return false;
    }
  }
#if defined(__linux__)
  libusb_device* device = find_device(entry.path);
  if (device == nullptr) return false;
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u",
                static_cast<unsigned>(libusb_get_bus_number(device)),
                static_cast<unsigned>(libusb_get_device_address(device)));
  libusb_unref_device(device);
  // A program that claimed interface 0 through usbfs shows as its driver;
  // asking for the driver's name claims nothing.
  const int fd = ::open(node, O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  usbdevfs_getdriver driver{};
  driver.interface = 0;
  const bool held = ::ioctl(fd, USBDEVFS_GETDRIVER, &driver) == 0 &&
                    std::strncmp(driver.driver, "usbfs", sizeof driver.driver) == 0;
  ::close(fd);
  return held;
#else
  return false;  // the system does not tell without claiming the device
#endif
}

}  // namespace maltor::platform
