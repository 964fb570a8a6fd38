// The virtual bus itself: device lifetimes across resets and the manual clock.
#include <chrono>
#include <future>

#include "link_test_util.h"

namespace maltor::test {
namespace {

using namespace std::chrono_literals;

using VirtualBus = LinkTest;

TEST_F(VirtualBus, PlugsAfterManyResetsWithFreshIds) {
  std::int32_t last = 0;
  // More plugs than one reset period holds.
  for (int i = 0; i < 70; ++i) {
    MaltorSim_Reset();
    const std::int32_t id = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
    ASSERT_GT(id, last) << "plug " << i;
    last = id;
  }
}

TEST_F(VirtualBus, HandleFromBeforeAResetIsStale) {
  plug_and_connect(1);
  MaltorSim_Reset();
  MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, -1);
  FirmwareVersion version;
  EXPECT_EQ(get_firmware_version(&version), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(DeviceIsReady(), 0);
  MaltorConnection record{};
  ASSERT_EQ(GetConnected(&record), MALTOR_OK);
  EXPECT_EQ(record.device_kind, 2);
}

TEST_F(VirtualBus, FirmwareVersionContentRoundTrips) {
  const std::int32_t id = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  const std::uint8_t version[5] = {0x34, 0x12, 7, 8, 9};
  ASSERT_EQ(MaltorSim_SetContent(id, MALTOR_SIM_FIRMWARE_VERSION, version, 4), -1);
  ASSERT_EQ(MaltorSim_SetContent(id, MALTOR_SIM_FIRMWARE_VERSION, version, 5), 0);
  std::uint8_t out[8] = {};
  ASSERT_EQ(MaltorSim_GetContent(id, MALTOR_SIM_FIRMWARE_VERSION, out, sizeof out), 5);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + 5),
            std::vector<std::uint8_t>(version, version + 5));
}

TEST_F(VirtualBus, SwitchToAutomaticModeReleasesAManualWait) {
  const std::int32_t id = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, 0x15, 1, 0), 0);
  std::future<std::uint8_t> result;
  const ManualClock manual;
  const std::uint64_t start = MaltorSim_ClockNow();
  result = std::async(std::launch::async, [] {
    std::uint8_t block[128];
    return SCGetSerialNumber(block);
  });
  ASSERT_TRUE(clock_waiters_reach(1));
  MaltorSim_ClockAdvance(1000);
  MaltorSim_ClockMode(MALTOR_SIM_CLOCK_AUTO);
  ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(result.get(), MALTOR_ERR_EXCHANGE);
  EXPECT_EQ(MaltorSim_ClockNow() - start, 4000u);
}

}  // namespace
}  // namespace maltor::test
