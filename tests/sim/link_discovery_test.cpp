// Discovery and the readiness test: which devices enter which slots, and when
// the table is emptied.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "link_test_util.h"

namespace maltor::test {
namespace {

using link::g_table;
using link::kInvalidHandle;

class Discovery : public LinkTest {
 protected:
  static const link::DeviceSlot& slot(int i) { return g_table.slots[i]; }
  static bool slot_open(int i) { return usb_handle(i) != kInvalidHandle; }
};

TEST_F(Discovery, NoDeviceLeavesRecordCounterAndOutputsAlone) {
  const std::int32_t id = plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  ASSERT_EQ(MaltorSim_Unplug(id), 0);
  MaltorSim_Plug(MALTOR_SIM_FOREIGN, MALTOR_SIM_HIGH_SPEED, -1);

  EXPECT_EQ(DeviceIsReady(), 0);
  EXPECT_TRUE(table_is_empty());

  MaltorConnection record;
  std::memset(&record, 0xA5, sizeof record);
  EXPECT_EQ(GetConnected(&record), MALTOR_ERR_NO_DEVICE);
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&record);
  for (std::size_t i = 0; i < sizeof record; ++i) EXPECT_EQ(raw[i], 0xA5) << "byte " << i;

  FirmwareVersion version;
  EXPECT_EQ(get_firmware_version(&version), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(version, FirmwareVersion{});
  std::uint8_t block[128];
  std::memset(block, 0x5A, sizeof block);
  EXPECT_EQ(SCGetSerialNumber(block), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(block[0], 0x5A);
  const std::uint8_t settings[2] = {1, 2};
  EXPECT_EQ(SCSetHWSettings(1, 2, 2, settings), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);

  ASSERT_EQ(MaltorSim_Replug(id), 0);
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(probe_sequence(), sequence);
}

TEST_F(Discovery, FirstEnumeratedTakesSlotZeroAndGetsEveryExchange) {
  MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  const std::int32_t first = MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, 0);  // enumerated first

  ASSERT_EQ(DeviceIsReady(), 4);
  EXPECT_EQ(slot(0).kind, 2);
  EXPECT_EQ(slot(1).kind, 1);
  EXPECT_TRUE(slot_open(1));
  EXPECT_FALSE(slot_open(2));
  EXPECT_EQ(g_table.device_count, 2);
  EXPECT_STRNE(slot(0).path, slot(1).path);
  for (int i : {0, 1}) {
    EXPECT_EQ(slot(i).command_in_pipe, 0x82);
    EXPECT_EQ(slot(i).command_out_pipe, 0x02);
    EXPECT_EQ(slot(i).second_in_pipe, 0x83);
    EXPECT_EQ(slot(i).second_out_pipe, 0x03);
  }

  MaltorSim_TraceClear();
  FirmwareVersion version;
  ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);
  std::uint8_t block[128];
  ASSERT_EQ(SCGetSerialNumber(block), MALTOR_OK);
  const auto transfers = trace();
  ASSERT_EQ(transfers.size(), 4u);
  for (const Transfer& t : transfers) EXPECT_EQ(t.device, first);
}

// Devices that discovery must pass over; a good device plugged after each
// then takes slot 0 and is the only one placed.
struct SkippedDevice {
  const char* name;
  std::uint8_t kind;
  std::uint32_t option;
  std::uint32_t value;
};

class SkippedDevices : public Discovery, public ::testing::WithParamInterface<SkippedDevice> {};

TEST_P(SkippedDevices, AreNotPlaced) {
  const SkippedDevice& param = GetParam();
  const std::int32_t skipped = MaltorSim_Plug(param.kind, MALTOR_SIM_HIGH_SPEED, -1);
  if (param.option != 0) {
    ASSERT_EQ(MaltorSim_SetOption(skipped, param.option, param.value), 0);
  }
  MaltorSim_Plug(3, MALTOR_SIM_HIGH_SPEED, -1);

  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(slot(0).kind, 3);
  EXPECT_FALSE(slot_open(1));
  EXPECT_EQ(g_table.device_count, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Link, SkippedDevices,
    ::testing::Values(SkippedDevice{"Foreign", MALTOR_SIM_FOREIGN, 0, 0},
                      SkippedDevice{"NoInterfacePath", 1, MALTOR_SIM_OPT_HAS_INTERFACE, 0},
                      SkippedDevice{"OpenFails", 1, MALTOR_SIM_OPT_OPEN_FAILS, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Discovery, PathHeldBySlotIsNotOpenedAgain) {
  MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, -1);
  ASSERT_NE(DeviceIsReady(), 0);
  const std::string held(slot(1).path);

  // Slot 0 is free again; the next discovery meets both devices once more.
  CloseDevice();
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(slot(0).kind, 1);
  EXPECT_EQ(slot(1).kind, 2);
  EXPECT_EQ(std::string(slot(1).path), held);
  EXPECT_FALSE(slot_open(2));
  EXPECT_EQ(slot(2).path[0], '\0');
}

TEST_F(Discovery, ReadyDeviceIsNotSearchedAgain) {
  plug_and_connect(1);
  MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, -1);
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_FALSE(slot_open(1));
  EXPECT_EQ(g_table.device_count, 1);
}

TEST_F(Discovery, TenDevicesFillEverySlotButCountNine) {
  for (int i = 0; i < 11; ++i) ASSERT_GT(MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1), 0);
  ASSERT_NE(DeviceIsReady(), 0);
  std::set<std::string> paths;
  for (int i = 0; i < link::kSlotCount; ++i) {
    EXPECT_TRUE(slot_open(i)) << "slot " << i;
    paths.insert(slot(i).path);
  }
  EXPECT_EQ(paths.size(), 10u);
  EXPECT_EQ(g_table.device_count, 9);
}

TEST_F(Discovery, UnplugEmptiesTableAndReplugIsFoundAgain) {
  const std::int32_t id = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  const std::int32_t other = MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, -1);
  MaltorConnection record{};
  ASSERT_EQ(GetConnected(&record), MALTOR_OK);
  ASSERT_EQ(MaltorSim_Unplug(id), 0);

  // The failing query empties the whole table, slot 1 included.
  EXPECT_EQ(DeviceIsReady(), 0);
  EXPECT_TRUE(table_is_empty());
  FirmwareVersion version;
  EXPECT_EQ(get_firmware_version(&version), MALTOR_ERR_NO_DEVICE);

  // The call after that searches afresh and finds the remaining device.
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(slot(0).kind, 2);

  ASSERT_EQ(MaltorSim_Replug(id), 0);
  ASSERT_EQ(MaltorSim_Unplug(other), 0);
  EXPECT_EQ(GetConnected(&record), MALTOR_ERR_NO_DEVICE);
  ASSERT_EQ(GetConnected(&record), MALTOR_OK);
  EXPECT_EQ(record.device_kind, 1);
  MaltorSim_TraceClear();
  ASSERT_EQ(get_firmware_version(&version), MALTOR_OK);
  for (const Transfer& t : trace()) EXPECT_EQ(t.device, id);
}

struct EndpointCase {
  std::uint32_t endpoints;
  std::uint8_t ready;
};

class Endpoints : public Discovery, public ::testing::WithParamInterface<EndpointCase> {};

TEST_P(Endpoints, CountIsTheReadiness) {
  const std::int32_t id = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  ASSERT_EQ(MaltorSim_SetOption(id, MALTOR_SIM_OPT_ENDPOINT_COUNT, GetParam().endpoints), 0);
  MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, -1);
  EXPECT_EQ(DeviceIsReady(), GetParam().ready);
  if (GetParam().ready == 0) {
    EXPECT_TRUE(table_is_empty());
  } else {
    EXPECT_TRUE(slot_open(1));
  }
}

INSTANTIATE_TEST_SUITE_P(Link, Endpoints,
                         ::testing::Values(EndpointCase{0, 0}, EndpointCase{1, 1},
                                           EndpointCase{4, 4}, EndpointCase{255, 255}));

// The link speed is taken again at every readiness call: a 44-byte
// configuration goes out in 42-byte data frames at full speed, whole at high.
TEST_F(Discovery, LinkSpeedFollowsEachQuery) {
  const std::int32_t id = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  const std::string path =
      (std::filesystem::temp_directory_path() / ("maltor_speed_" + std::to_string(getpid())))
          .string();
  std::ofstream(path, std::ios::binary) << std::string(44, 'c');
  const struct {
    std::uint32_t speed;
    std::size_t frames;  // start, data and end frames
  } steps[] = {{MALTOR_SIM_FULL_SPEED, 4}, {MALTOR_SIM_HIGH_SPEED, 3}, {MALTOR_SIM_FULL_SPEED, 4}};
  for (const auto& step : steps) {
    ASSERT_EQ(MaltorSim_SetOption(id, MALTOR_SIM_OPT_SPEED, step.speed), 0);
    ASSERT_NE(DeviceIsReady(), 0);
    MaltorSim_TraceClear();
    std::uint16_t status = 0;
    EXPECT_EQ(SCReconfigureFile(path.c_str(), &status), MALTOR_OK);
    EXPECT_EQ(frames_written().size(), step.frames) << step.speed;
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace maltor::test
