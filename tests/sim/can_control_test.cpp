// Bus control: how each member's arguments reach the wire, what it copies
// back, and how it fails.
#include <functional>

#include "can_test_util.h"

namespace maltor::test {
namespace {

using CanControl = CanTest;

struct ControlCase {
  const char* name;
  std::uint8_t code;
  Bytes payload;
  // Makes the call; `out` holds the copied output (preset to 0xEEEEEEEE).
  std::function<std::uint8_t(std::uint32_t& out)> call;
  std::uint32_t expected_out;    // what the virtual device answers
  std::uint32_t wait_ms = 5000;  // for a reply that never comes
};

std::uint8_t count_into(std::uint32_t& out) {
  std::uint8_t count = 0xEE;
  const std::uint8_t result = CANBusCount(&count);
  out = (out & 0xFFFFFF00u) | count;  // only one byte is written
  return result;
}

const ControlCase kControlCases[] = {
    {"InitBus",
     0x1D,
     {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
     [](auto&) {
       return InitBus({1, 2, 3, 4, 0x08070605, 0x0C0B0A09, 0x100F0E0D});
     },
     0xEEEEEEEE,
     1000},
    // Its header says 1,000 ms, but its reader waits a fixed 5,000.
    {"DeInitBus", 0x20, {}, [](auto&) { return DeInitBus(); }, 0xEEEEEEEE},
    {"InterfaceEnable", 0x31, {}, [](auto& w) { return CANInterfaceEnable(&w); }, 1},
    {"InterfaceDisable", 0x32, {}, [](auto& w) { return CANInterfaceDisable(&w); }, 0},
    {"BusCount", 0x33, {}, count_into, 0xEEEEEE02},
    {"BusOpen", 0x34, {1, 0, 0x5A}, [](auto& w) { return CANBusOpen(&w, 1, 0x5A); }, 0x00010001},
    {"BusClose", 0x35, {1, 0}, [](auto& w) { return CANBusClose(&w, 1); }, 0x00000001},
    {"BusOn", 0x36, {0, 0}, [](auto& w) { return CANBusOn(&w, 0); }, 0x00020000},
    {"BusOff", 0x37, {1, 0}, [](auto& w) { return CANBusOff(&w, 1); }, 0x00000001},
    {"ParameterSet",
     0x38,
     {0x02, 0x01, 0xE8, 0x03, 0, 0, 5, 6, 7, 8},
     [](auto& w) { return CANParameterSet(&w, 258, 1000, 5, 6, 7, 8); },
     0x80000102},
    {"DataParameterSet",
     0x3A,
     {0x01, 0x00, 0x78, 0x56, 0x34, 0x12, 0xA, 0xB, 0xC, 0xD},
     [](auto& w) { return CANDataParameterSet(&w, 1, 0x12345678, 0xA, 0xB, 0xC, 0xD); },
     0x00000001},
    {"BlockUidGet",
     0x3C,
     {1, 0, 0x22},
     [](auto& w) { return CANBlockUIDGet(&w, 1, 0x22); },
     0xC0DE0122},
};

TEST_F(CanControl, EachMemberPutsItsArgumentsOnTheWireAndCopiesTheReply) {
  const std::int32_t device = plug_and_connect();
  for (const ControlCase& c : kControlCases) {
    SCOPED_TRACE(c.name);
    const std::uint8_t sequence = next_sequence();
    std::uint32_t out = 0xEEEEEEEE;
    ASSERT_EQ(c.call(out), MALTOR_OK);
    EXPECT_EQ(out, c.expected_out);
    EXPECT_EQ(frames_written(), std::vector<Bytes>{standard_frame(sequence, c.code, c.payload)});

    // A silent device: the member's wait, and nothing copied.
    ASSERT_EQ(MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_NO_REPLY, c.code, 1, 0), 0);
    out = 0xEEEEEEEE;
    const std::uint64_t waited = virtual_ms([&] { EXPECT_EQ(c.call(out), MALTOR_ERR_EXCHANGE); });
    EXPECT_GE(waited, c.wait_ms);
    EXPECT_LT(waited, c.wait_ms + 100);
    EXPECT_EQ(out, 0xEEEEEEEEu);
  }
}

// Refused without a device or with a null output: nothing sent, no number used.
TEST_F(CanControl, RefusedCallsSendNothing) {
  const std::int32_t device = plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  EXPECT_EQ(CANInterfaceEnable(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANBusCount(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANBusOpen(nullptr, 0, 0), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANParameterSet(nullptr, 0, 0, 0, 0, 0, 0), MALTOR_ERR_ARGUMENT);

  ASSERT_EQ(MaltorSim_Unplug(device), 0);
  ASSERT_EQ(DeviceIsReady(), 0);
  for (const ControlCase& c : kControlCases) {
    SCOPED_TRACE(c.name);
    std::uint32_t out = 0xEEEEEEEE;
    EXPECT_EQ(c.call(out), MALTOR_ERR_NO_DEVICE);
    EXPECT_EQ(out, 0xEEEEEEEEu);
  }
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);
  ASSERT_EQ(MaltorSim_Replug(device), 0);
  ASSERT_NE(DeviceIsReady(), 0);
  EXPECT_EQ(probe_sequence(), sequence);
}

// Set-up, tear-down and single frames read even after a failed write, each
// waiting its reader's time; the family does not.
TEST_F(CanControl, FailedWriteReadsOnlyForSetUpTearDownAndFrames) {
  const std::int32_t device = plug_and_connect();
  std::uint32_t word = 0xEEEEEEEE;
  MaltorCanMessage message{};
  const struct {
    const char* name;
    std::function<std::uint8_t()> call;
    std::uint64_t wait_ms;
  } cases[] = {
      {"InitBus", [] { return InitBus({}); }, 1000},
      {"DeInitBus", [] { return DeInitBus(); }, 5000},
      {"CANTx", [&] { return CANTx(&message); }, 1000},
      {"BusOpen", [&] { return CANBusOpen(&word, 0, 0); }, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(
        MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_WRITE_FAILS, MALTOR_SIM_ANY_COMMAND, 1, 0),
        0);
    std::uint8_t result = 0;
    const std::uint64_t waited = virtual_ms([&] { result = c.call(); });
    EXPECT_EQ(result, MALTOR_ERR_EXCHANGE);
    EXPECT_GE(waited, c.wait_ms);
    EXPECT_LE(waited, c.wait_ms + 100);
  }
  EXPECT_EQ(word, 0xEEEEEEEEu);
}

TEST_F(CanControl, SetUpAnswersWhateverTheReplySays) {
  const std::int32_t device = plug_and_connect();
  ASSERT_EQ(MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_SHORT_REPLY, 0x1D, 1, 1), 0);
  EXPECT_EQ(InitBus({}), MALTOR_OK);
  ASSERT_EQ(MaltorSim_InjectFault(device, MALTOR_SIM_FAULT_STATUS, 0x20, 1, 0x55), 0);
  EXPECT_EQ(DeInitBus(), MALTOR_OK);
}

}  // namespace
}  // namespace maltor::test
