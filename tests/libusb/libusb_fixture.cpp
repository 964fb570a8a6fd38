#include "libusb_fixture.h"

#include <cstdlib>
#include <cstring>

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

void LibusbTest::SetUp() {
  const char* preload = std::getenv("LD_PRELOAD");
  ASSERT_TRUE(preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr)
      << "run under umockdev-wrapper (ctest does), or with LD_PRELOAD=libumockdev-preload.so.0";
  for (EmulatedDevice* device : {bus().logger.get(), bus().second.get(), bus().foreign.get()}) {
    if (!device->plugged()) device->plug();
    device->reset_model();
  }
  link::ResetDeviceTable();
  link::g_sequence = 0;
  link::g_high_speed = 0;
}

// The bus as every test finds it: three devices, none chosen.
void LibusbTest::TearDown() {
  CloseDevice();
  MaltorSelectDevice(nullptr);
  if (third().plugged()) third().unplug();
}

}  // namespace maltor::test
