// Listing the present devices without opening them, and choosing the one
// discovery opens.
#include <cstdio>
#include <string>
#include <vector>

#include "link_test_util.h"

namespace maltor::test {
namespace {

using link::g_table;
using link::kInvalidHandle;

std::vector<MaltorDeviceInfo> listed() {
  std::vector<MaltorDeviceInfo> devices(MaltorListDevices(nullptr, 0));
  devices.resize(MaltorListDevices(devices.data(), static_cast<std::uint32_t>(devices.size())));
  return devices;
}

std::string plugged_serial(std::int32_t id) {
  char serial[16];
  std::snprintf(serial, sizeof serial, "SIM%05d", static_cast<int>(id));
  return serial;
}

std::vector<std::string> open_paths() {
  std::vector<std::string> paths;
  for (int i = 0; i < link::kSlotCount; ++i) {
    if (usb_handle(i) != kInvalidHandle) paths.emplace_back(g_table.slots[i].path);
  }
  return paths;
}

class DeviceChoice : public LinkTest {
 protected:
  // Three devices of the four kinds, one of them enumerated first.
  void SetUp() override {
    LinkTest::SetUp();
    ids_[0] = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
    ids_[1] = MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, -1);
    ids_[2] = MaltorSim_Plug(5, MALTOR_SIM_FULL_SPEED, 0);
    MaltorSim_SetIdentity(ids_[0], "LOG-A", "1-1.4");
    const std::vector<MaltorDeviceInfo> devices = listed();
    ASSERT_EQ(devices.size(), 3u);
    for (const MaltorDeviceInfo& device : devices) paths_.emplace_back(device.path);
  }

  std::int32_t ids_[3] = {};
  std::vector<std::string> paths_;  // in discovery order: kind 5, 1, 2
};

TEST_F(DeviceChoice, ListsTheFourKindsInDiscoveryOrderWithoutOpeningAny) {
  MaltorSim_Plug(MALTOR_SIM_FOREIGN, MALTOR_SIM_HIGH_SPEED, 1);
  const std::int32_t bare = MaltorSim_Plug(3, MALTOR_SIM_HIGH_SPEED, -1);
  MaltorSim_SetOption(bare, MALTOR_SIM_OPT_HAS_INTERFACE, 0);
  MaltorSim_SetIdentity(ids_[1], "", nullptr);

  const std::vector<MaltorDeviceInfo> devices = listed();
  ASSERT_EQ(devices.size(), 3u) << "the foreign device and the one without a path are left out";
  struct Expected {
    std::uint8_t kind;
    std::uint16_t product;
    std::string serial;
    std::string location;
  };
  const Expected expected[] = {
      {5, 0x0005, plugged_serial(ids_[2]), "1-" + std::to_string(ids_[2])},
      {1, 0x0001, "LOG-A", "1-1.4"},
      {2, 0x0002, "", "1-" + std::to_string(ids_[1])},
  };
  for (std::size_t i = 0; i < devices.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(devices[i].kind, expected[i].kind);
    EXPECT_EQ(devices[i].vendor_id, 0x4D54);
    EXPECT_EQ(devices[i].product_id, expected[i].product);
    EXPECT_EQ(devices[i].serial, expected[i].serial);
    EXPECT_EQ(devices[i].location, expected[i].location);
    EXPECT_EQ(devices[i].in_use, 0);
  }
  EXPECT_TRUE(table_is_empty());
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);

  // A short array gets the first devices; the count is still all of them.
  MaltorDeviceInfo one[2] = {};
  one[1].kind = 0xEE;
  EXPECT_EQ(MaltorListDevices(one, 1), 3u);
  EXPECT_EQ(one[0].kind, 5);
  EXPECT_EQ(one[1].kind, 0xEE);
}

TEST_F(DeviceChoice, InUseTellsThisProcessFromAnotherProgram) {
  MaltorSim_SetOption(ids_[1], MALTOR_SIM_OPT_HELD_ELSEWHERE, 1);
  ASSERT_NE(DeviceIsReady(), 0);
  const std::vector<MaltorDeviceInfo> devices = listed();
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].in_use, 1);  // slot 0
  EXPECT_EQ(devices[1].in_use, 1);  // slot 1
  EXPECT_EQ(devices[2].in_use, 2);  // discovery could not open it
  EXPECT_EQ(open_paths(), (std::vector<std::string>{paths_[0], paths_[1]}));
}

TEST_F(DeviceChoice, DiscoveryOpensOnlyTheChosenDevice) {
  struct Case {
    const char* by;
    std::string id;
    int index;  // into paths_
  };
  const Case cases[] = {
      {"serial", "LOG-A", 1},
      {"location", "1-" + std::to_string(ids_[1]), 2},
      {"path", paths_[0], 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.by);
    CloseDevice();
    ASSERT_EQ(MaltorSelectDevice(c.id.c_str()), MALTOR_OK);
    ASSERT_NE(DeviceIsReady(), 0);
    EXPECT_EQ(open_paths(), std::vector<std::string>{paths_[c.index]});
    MaltorSim_TraceClear();
    FirmwareVersion version;
    ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);
    ASSERT_FALSE(trace().empty());
    EXPECT_EQ(trace()[0].device, ids_[(c.index + 2) % 3]);  // paths_ order is 5, 1, 2
  }
}

TEST_F(DeviceChoice, OfTwoDevicesAnsweringToTheIdTheFirstThatOpensIsTheOnlyOne) {
  MaltorSim_SetIdentity(ids_[1], "LOG-A", nullptr);  // as the device of ids_[0]
  ASSERT_EQ(MaltorSelectDevice("LOG-A"), MALTOR_OK);
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(open_paths(), std::vector<std::string>{paths_[1]});

  CloseDevice();
  MaltorSim_SetOption(ids_[0], MALTOR_SIM_OPT_HELD_ELSEWHERE, 1);
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(open_paths(), std::vector<std::string>{paths_[2]});
}

TEST_F(DeviceChoice, ChoosingClosesWhatItLeavesOutAndKeepsTheChosenSlotZero) {
  ASSERT_NE(DeviceIsReady(), 0);
  const platform::Handle chosen = usb_handle(0);
  ASSERT_EQ(MaltorSelectDevice(paths_[0].c_str()), MALTOR_OK);
  EXPECT_EQ(usb_handle(0), chosen) << "slot 0 already holds the chosen device";
  EXPECT_EQ(open_paths(), std::vector<std::string>{paths_[0]});

  ASSERT_EQ(MaltorSelectDevice("LOG-A"), MALTOR_OK);
  EXPECT_TRUE(open_paths().empty());
  FirmwareVersion version;
  EXPECT_EQ(get_firmware_version(&version), MALTOR_ERR_NO_DEVICE);
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(open_paths(), std::vector<std::string>{paths_[1]});

  // Back to every device: the open one stays, and the next discovery after a
  // close fills the slots as before.
  ASSERT_EQ(MaltorSelectDevice(""), MALTOR_OK);
  EXPECT_EQ(open_paths(), std::vector<std::string>{paths_[1]});
  CloseDevice();
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(open_paths(), paths_);
}

TEST_F(DeviceChoice, AChoiceMatchingNothingIsKeptUntilTheDeviceComes) {
  ASSERT_NE(DeviceIsReady(), 0);
  ASSERT_EQ(MaltorSelectDevice("LATE-1"), MALTOR_ERR_NO_DEVICE);
  EXPECT_TRUE(open_paths().empty()) << "slot 0 held another device";
  EXPECT_EQ(DeviceIsReady(), 0);

  const std::int32_t late = MaltorSim_Plug(3, MALTOR_SIM_HIGH_SPEED, -1);
  MaltorSim_SetIdentity(late, "LATE-1", nullptr);
  ASSERT_NE(DeviceIsReady(), 0);
  MaltorConnection record{};
  ASSERT_EQ(GetConnected(&record), MALTOR_OK);
  EXPECT_EQ(record.device_kind, 3);
  EXPECT_EQ(open_paths().size(), 1u);

  // An id longer than any serial, location or path never matches.
  const std::string endless(600, 'x');
  EXPECT_EQ(MaltorSelectDevice(endless.c_str()), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(DeviceIsReady(), 0);
}

TEST_F(DeviceChoice, NothingChangesWhileAnUpdateIsAlive) {
  ASSERT_NE(DeviceIsReady(), 0);
  {
    const UpdateHeld update;
    const std::vector<std::uint8_t> before = table_bytes();
    EXPECT_EQ(MaltorSelectDevice("LOG-A"), MALTOR_ERR_UPDATE_RUNNING);
    EXPECT_EQ(table_bytes(), before);
  }
  // The refused choice was not kept: discovery still takes every device.
  CloseDevice();
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(open_paths(), paths_);
}

}  // namespace
}  // namespace maltor::test
