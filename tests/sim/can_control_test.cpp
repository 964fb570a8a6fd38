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
  std::uint32_t expected_out;  // what the virtual device answers
  std::uint32_t read_length = 10;
  std::uint32_t timeout_ms = 5000;
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
     6,
     1000},
    {"DeInitBus", 0x20, {}, [](auto&) { return DeInitBus(); }, 0xEEEEEEEE, 6, 1000},
    {"InterfaceEnable", 0x31, {}, [](auto& w) { return CANInterfaceEnable(&w); }, 1},
    {"InterfaceDisable", 0x32, {}, [](auto& w) { return CANInterfaceDisable(&w); }, 0},
    {"BusCount", 0x33, {}, count_into, 0xEEEEEE02, 7},
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
  plug_and_connect();
  for (const ControlCase& c : kControlCases) {
    SCOPED_TRACE(c.name);
    MaltorSim_TraceClear();
    const std::uint8_t sequence = link::g_sequence;
    std::uint32_t out = 0xEEEEEEEE;
    ASSERT_EQ(c.call(out), MALTOR_OK);
    EXPECT_EQ(out, c.expected_out);
    const auto frames = frames_written();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], standard_frame(sequence, c.code, c.payload));
    EXPECT_EQ(link::buffer0().bytes_to_read, c.read_length);
    EXPECT_EQ(link::buffer0().timeout_ms, c.timeout_ms);
  }
}

TEST_F(CanControl, WithoutADeviceNothingIsSentAndNothingWritten) {
  for (const ControlCase& c : kControlCases) {
    SCOPED_TRACE(c.name);
    std::uint32_t out = 0xEEEEEEEE;
    EXPECT_EQ(c.call(out), MALTOR_ERR_NO_DEVICE);
    EXPECT_EQ(out, 0xEEEEEEEEu);
  }
  EXPECT_EQ(link::g_sequence, 0);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);
}

TEST_F(CanControl, NullOutputIsRefusedBeforeAnythingIsSent) {
  plug_and_connect();
  EXPECT_EQ(CANInterfaceEnable(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANBusCount(nullptr), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANBusOpen(nullptr, 0, 0), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(CANParameterSet(nullptr, 0, 0, 0, 0, 0, 0), MALTOR_ERR_ARGUMENT);
  EXPECT_EQ(link::g_sequence, 0);
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);
}

// Set-up and tear-down read even after a failed write; the family does not.
// Each waits its own reader's time for a reply that never comes.
TEST_F(CanControl, FailedWriteAndSilenceFollowEachMembersReader) {
  const std::int32_t device = plug_and_connect();
  struct Case {
    const char* name;
    std::uint32_t fault;
    std::function<std::uint8_t()> call;
    std::uint64_t min_wait, max_wait;
  };
  std::uint32_t word = 0xEEEEEEEE;
  const Case cases[] = {
      {"InitBus silent", MALTOR_SIM_FAULT_NO_REPLY, [] { return InitBus({}); }, 1000, 1100},
      {"DeInitBus silent", MALTOR_SIM_FAULT_NO_REPLY, [] { return DeInitBus(); }, 5000, 5100},
      {"InitBus write fails", MALTOR_SIM_FAULT_WRITE_FAILS, [] { return InitBus({}); }, 1000, 1100},
      {"DeInitBus write fails", MALTOR_SIM_FAULT_WRITE_FAILS, [] { return DeInitBus(); }, 5000,
       5100},
      {"BusOpen write fails", MALTOR_SIM_FAULT_WRITE_FAILS, [&] { return CANBusOpen(&word, 0, 0); },
       0, 100},
      {"BusOn silent", MALTOR_SIM_FAULT_NO_REPLY, [&] { return CANBusOn(&word, 0); }, 5000, 5100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(MaltorSim_InjectFault(device, c.fault, MALTOR_SIM_ANY_COMMAND, 1, 0), 0);
    std::uint8_t result = 0;
    const std::uint64_t waited = can_virtual_ms([&] { result = c.call(); });
    EXPECT_EQ(result, MALTOR_ERR_EXCHANGE);
    EXPECT_GE(waited, c.min_wait);
    EXPECT_LE(waited, c.max_wait);
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
