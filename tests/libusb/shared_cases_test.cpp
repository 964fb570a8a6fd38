// The device cases shared with the WinUSB backend, run here through libusb
// against the umockdev bus.
#include <unistd.h>

#include "device_cases.h"
#include "libusb_fixture.h"

namespace maltor::test {

namespace {

class LibusbRig final : public DeviceRig {
 public:
  LibusbRig() {
#define MALTOR_EXPORT_TAKE(name) api_.name = &::name;
    MALTOR_DEVICE_CASE_EXPORTS(MALTOR_EXPORT_TAKE)
#undef MALTOR_EXPORT_TAKE
  }

  const Exports& api() override {
    return api_;
  }

  void fresh() override {
    for (EmulatedDevice* device : {bus().logger.get(), bus().second.get(), bus().foreign.get()}) {
      if (!device->plugged()) device->plug();
      device->reset_model();
      device->break_configuration(false);
    }
    MaltorSelectDevice(nullptr);
    link::ResetDeviceTable();
    link::g_sequence = 0;
    link::g_high_speed = 0;
  }
  void plug(Port port) override {
    device(port).plug();
  }
  void unplug(Port port) override {
    device(port).unplug();
  }
  void with_model(Port port, const std::function<void(sim::DeviceModel&)>& work) override {
    device(port).with_model([&](sim::DeviceModel& model) {
      work(model);
      return 0;
    });
  }
  void split_transfers(Port port) override {
    device(port).split_bulk_transfers();
  }
  void break_speed_query(Port port, bool broken) override {
    device(port).break_configuration(broken);
  }
  bool device_open(Port port) override {
    return device(port).claimed();
  }
  int pending_reads(Port port, std::uint8_t endpoint) override {
    return device(port).pending_reads(endpoint);
  }
  std::string scratch_file(const char* name) override {
    return "/tmp/maltor-libusb-" + std::to_string(getpid()) + "-" + name;
  }

 private:
  static EmulatedDevice& device(Port port) {
    switch (port) {
      case Port::kLogger:
        return *bus().logger;
      case Port::kSecond:
        return *bus().second;
      default:
        return *bus().foreign;
    }
  }

  Exports api_{};
};

}  // namespace

DeviceRig& device_rig() {
  static LibusbRig rig;
  return rig;
}

MALTOR_INSTANTIATE_DEVICE_CASES(Libusb);

}  // namespace maltor::test
