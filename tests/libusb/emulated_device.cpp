#include "emulated_device.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace maltor::test {

namespace {

// Device numbers are never reused, as on a real bus.
int g_next_device_number = 2;

constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kStringDescriptor = 3;
constexpr std::uint8_t kSerialIndex = 3;
constexpr std::size_t kSetupSize = 8;

void put_hex(std::string& out, std::initializer_list<int> bytes) {
  char text[3];
  for (int byte : bytes) {
    std::snprintf(text, sizeof text, "%02x", byte & 0xFF);
    out += text;
  }
}

// Device descriptor, then one configuration with interface 0 and its four
// bulk endpoints: command pipes 0x02/0x82, stream pipes 0x03/0x83.
std::string descriptors(const DeviceDescription& description) {
  const int packet = description.speed_mbps >= 480 ? 512 : 64;
  std::string hex;
  put_hex(hex, {18, 1, 0x00, 0x02, 0, 0, 0, 64, description.vendor, description.vendor >> 8,
                description.product, description.product >> 8, 0x00, 0x01, 0, 0,
                description.serial != nullptr ? kSerialIndex : 0, 1});
  put_hex(hex, {9, 2, 9 + 9 + 4 * 7, 0, 1, 1, 0, 0xC0, 50});
  put_hex(hex, {9, 4, 0, 0, 4, 0xFF, 0, 0, 0});
  for (int endpoint : {0x82, 0x02, 0x83, 0x03}) {
    put_hex(hex, {7, 5, endpoint, 2, packet, packet >> 8, 0});
  }
  return hex;
}

usbdevfs_urb& urb_of(UMockdevIoctlData* data) {
  return *reinterpret_cast<usbdevfs_urb*>(data->data);
}

void complete(UMockdevIoctlClient* client, long result, int error) {
  umockdev_ioctl_client_complete(client, result, error);
}

}  // namespace

EmulatedDevice::EmulatedDevice(UMockdevTestbed* testbed, const DeviceDescription& description)
    : testbed_(testbed), description_(description) {
  urbs_.reserve(64);  // no allocation per transfer once running
  if (description_.kind != 0) {
    model_ = std::make_unique<sim::DeviceModel>(description_.kind);
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_ioctl), this);
  }
}

EmulatedDevice::~EmulatedDevice() {
  std::lock_guard held(mutex_);
  for (Urb& urb : urbs_) release(urb);
  urbs_.clear();
  if (claimant_ != nullptr) g_object_unref(claimant_);
  if (handler_ != nullptr) g_object_unref(handler_);
}

std::string EmulatedDevice::record() const {
  char text[1024];
  const int number = device_number_;
  std::snprintf(text, sizeof text,
                "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
                "N: bus/usb/001/%03d\n"
                "E: DEVNAME=/dev/bus/usb/001/%03d\n"
                "E: DEVTYPE=usb_device\n"
                "E: SUBSYSTEM=usb\n"
                "E: BUSNUM=001\n"
                "E: DEVNUM=%03d\n"
                "A: idVendor=%04x\n"
                "A: idProduct=%04x\n"
                "A: busnum=1\n"
                "A: devnum=%d\n"
                "A: speed=%d\n"
                "A: bConfigurationValue=1\n"
                "A: dev=189:%d\n",
                description_.port, number, number, number, description_.vendor,
                description_.product, number, description_.speed_mbps, number - 1);
  return std::string(text) + "H: descriptors=" + descriptors(description_) + "\n";
}

void EmulatedDevice::plug() {
  {
    std::lock_guard held(mutex_);
    device_number_ = g_next_device_number++;
    vanished_ = false;
    if (claimant_ != nullptr) g_object_unref(claimant_);
    claimant_ = nullptr;  // a fresh device: nobody holds it yet
  }
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed_, record().c_str(), &error)) {
    std::fprintf(stderr, "emulated device: %s\n", error->message);
    g_error_free(error);
    return;
  }
  if (handler_ != nullptr) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", device_number_);
    if (!umockdev_testbed_attach_ioctl(testbed_, node, handler_, &error)) {
      std::fprintf(stderr, "emulated device: %s\n", error->message);
      g_error_free(error);
      return;
    }
  }
  plugged_ = true;
}

void EmulatedDevice::unplug() {
  {
    std::lock_guard held(mutex_);
    vanished_ = true;
    for (Urb& urb : urbs_) {
      if (!urb.completed) finish(urb, -ENODEV, 0);
    }
  }
  if (!plugged_) return;
  char path[128];
  std::snprintf(path, sizeof path, "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-%d",
                description_.port);
  umockdev_testbed_remove_device(testbed_, path);
  plugged_ = false;
}

void EmulatedDevice::break_configuration(bool broken) {
  char node[128];
  std::snprintf(node, sizeof node, "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-%d",
                description_.port);
  if (broken == configuration_broken_) return;
  configuration_broken_ = broken;
  if (!broken) {
    umockdev_testbed_set_attribute(testbed_, node, "bConfigurationValue", "1\n");
    return;
  }
  gchar* sys = umockdev_testbed_get_sys_dir(testbed_);
  const std::string file = std::string(sys) + (node + 4) + "/bConfigurationValue";
  g_free(sys);
  std::remove(file.c_str());
}

void EmulatedDevice::reset_model() {
  std::lock_guard held(mutex_);
  if (model_ != nullptr) model_ = std::make_unique<sim::DeviceModel>(description_.kind);
  frames_.clear();
  split_bulk_ = false;
}

int EmulatedDevice::pending_reads(std::uint8_t endpoint) {
  std::lock_guard held(mutex_);
  int count = 0;
  for (Urb& urb : urbs_) {
    if (urb.in && !urb.completed && urb_of(urb.urb).endpoint == endpoint) ++count;
  }
  return count;
}

gboolean EmulatedDevice::on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
  return static_cast<EmulatedDevice*>(self)->handle(client);
}

gboolean EmulatedDevice::handle(UMockdevIoctlClient* client) {
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  std::lock_guard held(mutex_);
  drop_disconnected();
  // A client still holding the node of an earlier plug-in sees a vanished device.
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", device_number_);
  const bool gone = vanished_ || std::strcmp(umockdev_ioctl_client_get_devnode(client), node) != 0;
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
      *reinterpret_cast<std::uint32_t*>(caps->data) =
          split_bulk_ ? 0 : USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
      g_object_unref(caps);
      complete(client, 0, 0);
      break;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:  // claim, detaching a kernel driver first
      if (gone) {
        complete(client, -1, ENODEV);
      } else {
        const bool taken = claim(client);
        complete(client, taken ? 0 : -1, taken ? 0 : EBUSY);
      }
      break;
    case USBDEVFS_RELEASEINTERFACE:
      unclaim(client);
      complete(client, gone ? -1 : 0, gone ? ENODEV : 0);
      break;
    case USBDEVFS_GETDRIVER:
      tell_driver(client, arg);
      break;
    case USBDEVFS_IOCTL:  // a kernel driver given back on release
    case USBDEVFS_CLEAR_HALT:
      complete(client, gone ? -1 : 0, gone ? ENODEV : 0);
      break;
    case USBDEVFS_SUBMITURB:
      if (gone) {
        complete(client, -1, ENODEV);
      } else {
        submit(client, arg);
      }
      break;
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      reap(client, arg);
      break;
    case USBDEVFS_DISCARDURB:
      discard(client, arg);
      break;
    default:
      complete(client, -1, ENOTTY);
      break;
  }
  return TRUE;
}

void EmulatedDevice::submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
  usbdevfs_urb& request = urb_of(data);
  UMockdevIoctlData* buffer =
      request.buffer_length > 0
          ? umockdev_ioctl_data_resolve(data, offsetof(usbdevfs_urb, buffer),
                                        static_cast<gsize>(request.buffer_length), nullptr)
          : nullptr;
  Urb urb{static_cast<UMockdevIoctlClient*>(g_object_ref(client)), data, buffer,
          (request.endpoint & 0x80) != 0, false};
  const std::uint8_t endpoint = request.endpoint;
  if (request.type == USBDEVFS_URB_TYPE_CONTROL) {
    answer_control(urb);
  } else if (request.type != USBDEVFS_URB_TYPE_BULK) {
    finish(urb, -EPIPE, 0);
  } else if (!urb.in) {
    const bool taken = model_->write(endpoint, buffer != nullptr ? buffer->data : nullptr,
                                     static_cast<std::uint32_t>(request.buffer_length));
    finish(urb, taken ? 0 : -EPIPE, taken ? request.buffer_length : 0);
    if (taken && endpoint == sim::kCommandOut && request.buffer_length >= 4) {
      frames_.push_back({buffer->data[0], buffer->data[1], buffer->data[2], buffer->data[3]});
    }
  }
  urbs_.push_back(urb);
  // A device armed to vanish does so while the host waits for its reply.
  if (urb.in && endpoint == sim::kCommandIn && model_->take_vanish_request()) {
    vanished_ = true;
    for (Urb& pending : urbs_) {
      if (!pending.completed) finish(pending, -ENODEV, 0);
    }
  }
  complete(client, 0, 0);
}

void EmulatedDevice::answer_control(Urb& urb) {
  usbdevfs_urb& request = urb_of(urb.urb);
  if (urb.buffer == nullptr || request.buffer_length < static_cast<int>(kSetupSize)) {
    finish(urb, -EPIPE, 0);
    return;
  }
  std::uint8_t* setup = urb.buffer->data;
  const int value = setup[2] | (setup[3] << 8);
  const int length = setup[6] | (setup[7] << 8);
  std::uint8_t reply[256];
  int size = 0;
  if (setup[0] == 0x80 && setup[1] == kGetDescriptor && (value >> 8) == kStringDescriptor) {
    const int index = value & 0xFF;
    if (index == 0) {
      const std::uint8_t languages[] = {4, kStringDescriptor, 0x09, 0x04};
      std::memcpy(reply, languages, sizeof languages);
      size = sizeof languages;
    } else if (index == kSerialIndex && description_.serial != nullptr) {
      const int characters = static_cast<int>(std::strlen(description_.serial));
      size = 2 + 2 * characters;
      reply[0] = static_cast<std::uint8_t>(size);
      reply[1] = kStringDescriptor;
      for (int i = 0; i < characters; ++i) {
        reply[2 + 2 * i] = static_cast<std::uint8_t>(description_.serial[i]);
        reply[3 + 2 * i] = 0;
      }
    }
  }
  if (size == 0) {
    finish(urb, -EPIPE, 0);
    return;
  }
  const int room = request.buffer_length - static_cast<int>(kSetupSize);
  size = std::min({size, length, room});
  std::memcpy(setup + kSetupSize, reply, static_cast<std::size_t>(size));
  finish(urb, 0, size);
}

bool EmulatedDevice::fill_from_model(Urb& urb) {
  const usbdevfs_urb& request = urb_of(urb.urb);
  // Only the oldest read of an endpoint takes what the device sends.
  for (Urb& other : urbs_) {
    if (&other == &urb) break;
    if (other.in && !other.completed && urb_of(other.urb).endpoint == request.endpoint) {
      return false;
    }
  }
  if (urb.buffer == nullptr || !model_->readable(request.endpoint)) return false;
  const std::uint32_t count = model_->read(request.endpoint, urb.buffer->data,
                                           static_cast<std::uint32_t>(request.buffer_length));
  finish(urb, 0, static_cast<int>(count));
  return true;
}

void EmulatedDevice::reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
    if (it->client != client) continue;
    if (!it->completed && (!it->in || !fill_from_model(*it))) continue;
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(target, 0, it->urb);
    g_object_unref(target);
    release(*it);
    urbs_.erase(it);
    complete(client, 0, 0);
    return;
  }
  complete(client, -1, vanished_ ? ENODEV : EAGAIN);
}

void EmulatedDevice::discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  const gulong address = *reinterpret_cast<gulong*>(arg->data);
  for (Urb& urb : urbs_) {
    if (urb.client == client && urb.urb->client_addr == address && !urb.completed) {
      finish(urb, -ENOENT, 0);
      complete(client, 0, 0);
      return;
    }
  }
  // Already completed: libusb reaps it as it is.
  complete(client, -1, EINVAL);
}

void EmulatedDevice::finish(Urb& urb, int status, int actual_length) {
  usbdevfs_urb& request = urb_of(urb.urb);
  request.status = status;
  request.actual_length = actual_length;
  urb.completed = true;
}

void EmulatedDevice::release(Urb& urb) {
  g_object_unref(urb.urb);
  if (urb.buffer != nullptr) g_object_unref(urb.buffer);
  g_object_unref(urb.client);
}

bool EmulatedDevice::claim(UMockdevIoctlClient* client) {
  if (claimant_ != nullptr && claimant_ != client) return false;
  if (claimant_ == nullptr) claimant_ = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
  return true;
}

void EmulatedDevice::unclaim(UMockdevIoctlClient* client) {
  if (claimant_ == nullptr || claimant_ != client) return;
  g_object_unref(claimant_);
  claimant_ = nullptr;
}

// Interface 0 shows usbfs as its driver while some open file claims it.
void EmulatedDevice::tell_driver(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
  if (claimant_ == nullptr) {
    complete(client, -1, ENODATA);
    return;
  }
  UMockdevIoctlData* data =
      umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_getdriver), nullptr);
  usbdevfs_getdriver& driver = *reinterpret_cast<usbdevfs_getdriver*>(data->data);
  std::snprintf(driver.driver, sizeof driver.driver, "usbfs");
  g_object_unref(data);
  complete(client, 0, 0);
}

void EmulatedDevice::drop_disconnected() {
  // A closed file gives up its claim.
  if (claimant_ != nullptr && !umockdev_ioctl_client_get_connected(claimant_)) {
    g_object_unref(claimant_);
    claimant_ = nullptr;
  }
  for (auto it = urbs_.begin(); it != urbs_.end();) {
    if (umockdev_ioctl_client_get_connected(it->client)) {
      ++it;
    } else {
      release(*it);
      it = urbs_.erase(it);
    }
  }
}

}  // namespace maltor::test
