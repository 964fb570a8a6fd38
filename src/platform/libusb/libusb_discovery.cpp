// Discovery over libusb: present devices in bus order, named as the core
// expects ("USB\VID_xxxx&PID_xxxx\<serial or bus-port>") with a path built
// from the bus and port numbers, which stays the same across re-plugging.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "link/device_table.h"
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

// The serial number of one of the maker's devices, kept to characters an
// instance id can hold. Other vendors' devices are never opened here, so
// discovery causes no traffic to foreign devices.
bool read_serial(libusb_device* device, const libusb_device_descriptor& descriptor, char* out,
                 int capacity) {
  if (descriptor.iSerialNumber == 0 || descriptor.idVendor != link::kVendorId) return false;
  libusb_device_handle* handle = nullptr;
  if (libusb_open(device, &handle) != LIBUSB_SUCCESS) return false;
  const int length = libusb_get_string_descriptor_ascii(
      handle, descriptor.iSerialNumber, reinterpret_cast<unsigned char*>(out), capacity);
  libusb_close(handle);
  if (length <= 0) return false;
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.') out[i] = '_';
  }
  out[length < capacity ? length : capacity - 1] = '\0';
  return true;
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
    char tail[128];
    if (!read_serial(found[i].device, descriptor, tail, sizeof tail) &&
        !bus_port_text(found[i], tail, sizeof tail)) {
      continue;
    }
    std::snprintf(entry.instance_id, sizeof entry.instance_id, "USB\\VID_%04X&PID_%04X\\%s",
                  descriptor.idVendor, descriptor.idProduct, tail);
    if (!device_path(found[i].device, entry.path, sizeof entry.path)) entry.path[0] = '\0';
    if (!visit(context_pointer, entry)) break;
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
}

}  // namespace maltor::platform
