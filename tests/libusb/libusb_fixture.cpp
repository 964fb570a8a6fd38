#include "libusb_fixture.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace maltor::test {

namespace {

EmulatedBus* g_bus = nullptr;

// Takes the testbed down after the last test, which removes its folder.
class BusTeardown : public ::testing::Environment {
 public:
  void TearDown() override {
    if (g_bus == nullptr) return;
    CloseDevice();
    g_object_unref(g_bus->testbed);
  }
};

const ::testing::Environment* const g_teardown =
    ::testing::AddGlobalTestEnvironment(new BusTeardown);

}  // namespace

EmulatedBus& bus() {
  static EmulatedBus* const made = [] {
    auto* created = new EmulatedBus{umockdev_testbed_new(), nullptr, nullptr, nullptr, nullptr};
    created->logger = std::make_unique<EmulatedDevice>(
        created->testbed, DeviceDescription{1, 0x4D54, 0x0001, "MTR0001", 480, 1});
    created->second = std::make_unique<EmulatedDevice>(
        created->testbed, DeviceDescription{2, 0x4D54, 0x0002, "MTR0002", 12, 2});
    created->foreign = std::make_unique<EmulatedDevice>(
        created->testbed, DeviceDescription{3, 0x1234, 0x5678, nullptr, 480, 0});
    created->third = std::make_unique<EmulatedDevice>(
        created->testbed, DeviceDescription{4, 0x4D54, 0x0003, "MTR0003", 480, 3});
    // Plugged out of port order: discovery must still list them by port.
    created->second->plug();
    created->foreign->plug();
    created->logger->plug();
    g_bus = created;
    return created;
  }();
  return *made;
}

// The device cases' rig over the umockdev bus.
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
    release_every_device(api_);
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
  std::vector<FrameHead> frames_written(Port port) override {
    return device(port).frames_written();
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

DeviceRig& device_rig() {
  static LibusbRig rig;
  return rig;
}

void LibusbTest::SetUp() {
  const char* preload = std::getenv("LD_PRELOAD");
  ASSERT_TRUE(preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr)
      << "run under umockdev-wrapper (ctest does), or with LD_PRELOAD=libumockdev-preload.so.0";
  device_rig().fresh();
}

// The bus as every test finds it: three devices, none chosen.
void LibusbTest::TearDown() {
  CloseDevice();
  MaltorSelectDevice(nullptr);
  if (third().plugged()) third().unplug();
}

}  // namespace maltor::test
