// The connection record and closing slot 0.
#include <cstring>
#include <string>

#include "link_test_util.h"

namespace maltor::test {
namespace {

using link::kInvalidHandle;
using link::slot0;

using Connection = LinkTest;

// Slot 0 after a close: both handles invalid and the path cleared.
void expect_slot0_closed() {
  EXPECT_EQ(usb_handle(0), kInvalidHandle);
  EXPECT_EQ(file_handle(0), kInvalidHandle);
  EXPECT_EQ(std::string(slot0().path, sizeof slot0().path), std::string(sizeof slot0().path, '\0'));
}

class RecordByKind : public LinkTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(RecordByKind, CarriesKindAndFileHandleAsRawBytes) {
  MaltorSim_Plug(MALTOR_SIM_FOREIGN, MALTOR_SIM_HIGH_SPEED, -1);
  MaltorSim_Plug(GetParam(), MALTOR_SIM_FULL_SPEED, -1);
  std::uint8_t raw[19];
  std::memset(raw, 0xEE, sizeof raw);
  ASSERT_EQ(GetConnected(reinterpret_cast<MaltorConnection*>(raw)), MALTOR_OK);

  EXPECT_EQ(raw[0], GetParam());
  const std::uint64_t file = file_handle(0);
  ASSERT_NE(file, kInvalidHandle);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(raw[1 + i], static_cast<std::uint8_t>(file >> (8 * i))) << "byte " << 1 + i;
  }
  for (int i = 9; i < 19; ++i) EXPECT_EQ(raw[i], 0) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Link, RecordByKind, ::testing::Values(1, 2, 3, 5));

TEST_F(Connection, NullRecordIsRefusedAfterTheReadinessCheck) {
  EXPECT_EQ(GetConnected(nullptr), MALTOR_ERR_NO_DEVICE);
  MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  EXPECT_EQ(GetConnected(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_NE(usb_handle(0), kInvalidHandle);
}

// After CloseDevice every command returns 7 without a search, until one of
// the two readiness calls finds the device again.
class ReconnectAfterClose : public LinkTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReconnectAfterClose, CommandsWaitForTheReadinessCall) {
  MaltorSim_Plug(3, MALTOR_SIM_HIGH_SPEED, -1);
  MaltorSim_Plug(2, MALTOR_SIM_HIGH_SPEED, -1);
  ASSERT_NE(DeviceIsReady(), 0);
  const std::uint8_t sequence = next_sequence();
  const link::DeviceSlot slot1_before = link::g_table.slots[1];

  CloseDevice();
  expect_slot0_closed();
  EXPECT_EQ(slot0().kind, 3);
  EXPECT_EQ(slot0().command_in_pipe, 0x82);
  EXPECT_EQ(slot0().command_out_pipe, 0x02);
  EXPECT_EQ(std::memcmp(&slot1_before, &link::g_table.slots[1], sizeof slot1_before), 0);

  MaltorSim_TraceClear();
  FirmwareVersion version;
  for (int i = 0; i < 3; ++i) EXPECT_EQ(get_firmware_version(&version), MALTOR_ERR_NO_DEVICE);
  EXPECT_EQ(usb_handle(0), kInvalidHandle);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);

  if (GetParam()) {
    MaltorConnection record{};
    ASSERT_EQ(GetConnected(&record), MALTOR_OK);
  } else {
    ASSERT_NE(DeviceIsReady(), 0);
  }
  EXPECT_EQ(get_firmware_version(&version), MALTOR_OK);
  EXPECT_EQ(frames_written().back()[0], sequence);  // the refused calls used no number
  EXPECT_EQ(slot0().kind, 3);
}

INSTANTIATE_TEST_SUITE_P(Link, ReconnectAfterClose, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "GetConnected" : "DeviceIsReady");
});

TEST_F(Connection, CloseDuringUpdateChangesNothing) {
  plug_and_connect();
  {
    const UpdateHeld update;
    const auto before = table_bytes();
    CloseDevice();
    CloseDevice2();
    EXPECT_EQ(table_bytes(), before);
    // Exchanges wait for the update to end.
    FirmwareVersion version;
    EXPECT_EQ(get_firmware_version(&version), MALTOR_ERR_UPDATE_RUNNING);
  }
  CloseDevice();
  expect_slot0_closed();
}

TEST_F(Connection, CloseDevice2ActsOnlyOnAnOpenFileHandle) {
  plug_and_connect();
  CloseDevice2();
  expect_slot0_closed();

  // A slot CloseDevice closed is left alone.
  ASSERT_NE(DeviceIsReady(), 0);
  CloseDevice();
  const auto closed = table_bytes();
  CloseDevice2();
  EXPECT_EQ(table_bytes(), closed);

  // A slot whose file handle is invalid but whose USB handle is not: only
  // CloseDevice touches it.
  ASSERT_NE(DeviceIsReady(), 0);
  slot0().file = kInvalidHandle;
  const auto half_open = table_bytes();
  CloseDevice2();
  EXPECT_EQ(table_bytes(), half_open);
  CloseDevice();
  expect_slot0_closed();
}

}  // namespace
}  // namespace maltor::test
