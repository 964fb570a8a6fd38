// One USB device emulated in a umockdev testbed. Its sysfs entry and
// descriptors let libusb enumerate it; an ioctl handler answers the usbdevfs
// requests libusb makes on its /dev node (claim, submit, reap, discard) from a
// DeviceModel, the model the virtual device runs. A device without a model is
// a foreign one: listed on the bus, never answered.
#pragma once

#include <umockdev.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/model/device_model.h"

namespace maltor::test {

struct DeviceDescription {
  int port;  // port on bus 1: sysfs name "1-<port>", libusb path "usb:1-<port>"
  std::uint16_t vendor;
  std::uint16_t product;
  const char* serial;  // null: the device has no serial string
  int speed_mbps;      // 480 high speed, 12 full speed
  std::uint8_t kind;   // the model's device kind; 0 for a foreign device
};

class EmulatedDevice {
 public:
  EmulatedDevice(UMockdevTestbed* testbed, const DeviceDescription& description);
  ~EmulatedDevice();
  EmulatedDevice(const EmulatedDevice&) = delete;
  EmulatedDevice& operator=(const EmulatedDevice&) = delete;

  // Adds the device to the testbed under a fresh device number, as a device
  // plugged into its port gets.
  void plug();
  // Fails its outstanding transfers with ENODEV and removes it from the bus.
  void unplug();
  bool plugged() const { return plugged_; }

  // Runs `work` on the device's model under the handler's lock.
  template <typename Work>
  auto with_model(Work work) {
    std::lock_guard held(mutex_);
    return work(*model_);
  }
  // A fresh model: no queued replies, no faults, default content, whole
  // bulk transfers.
  void reset_model();
  // From the next open on, the device reports no usbdevfs capabilities, so
  // libusb splits bulk transfers into requests of 16 KiB, as it does on
  // kernels without unlimited bulk sizes.
  void split_bulk_transfers() {
    std::lock_guard held(mutex_);
    split_bulk_ = true;
  }

  // While broken, the device's sysfs node lacks its active configuration, so
  // libusb takes the device for gone when asked for it (it stays plugged in).
  void break_configuration(bool broken);

  // Whether a client holds interface 0.
  bool claimed() {
    std::lock_guard held(mutex_);
    return claimant_ != nullptr && umockdev_ioctl_client_get_connected(claimant_);
  }

  // IN transfers submitted on `endpoint` and still waiting for data.
  int pending_reads(std::uint8_t endpoint);

  // The first four bytes of each frame the model took on its command pipe
  // since the last reset_model(), oldest first.
  std::vector<std::array<std::uint8_t, 4>> frames_written() {
    std::lock_guard held(mutex_);
    return frames_;
  }

  const DeviceDescription& description() const { return description_; }

 private:
  struct Urb {
    UMockdevIoctlClient* client;
    UMockdevIoctlData* urb;     // the client's usbdevfs_urb, as a local copy
    UMockdevIoctlData* buffer;  // its buffer, or null for an empty one
    bool in;
    bool completed;
  };

  static gboolean on_ioctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
  gboolean handle(UMockdevIoctlClient* client);
  void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  void answer_control(Urb& urb);
  bool fill_from_model(Urb& urb);
  void finish(Urb& urb, int status, int actual_length);
  void release(Urb& urb);
  void drop_disconnected();
  // Interface 0 is claimed by one open file at a time, as usbfs does.
  bool claim(UMockdevIoctlClient* client);
  void unclaim(UMockdevIoctlClient* client);
  void tell_driver(UMockdevIoctlClient* client, UMockdevIoctlData* arg);
  std::string record() const;

  UMockdevTestbed* testbed_;
  DeviceDescription description_;
  UMockdevIoctlBase* handler_ = nullptr;
  std::mutex mutex_;
  std::unique_ptr<sim::DeviceModel> model_;
  std::vector<std::array<std::uint8_t, 4>> frames_;
  std::vector<Urb> urbs_;                    // submitted and not yet reaped, oldest first
  UMockdevIoctlClient* claimant_ = nullptr;  // referenced while it holds interface 0
  int device_number_ = 0;
  bool plugged_ = false;
  bool vanished_ = false;  // every request fails with ENODEV
  bool split_bulk_ = false;
  bool configuration_broken_ = false;
};

}  // namespace maltor::test
