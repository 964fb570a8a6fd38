// Table-driven checks shared by the identity, settings and storage-catalogue
// tests: one row per operation that sends one request and decodes fixed reply
// positions into its outputs.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "sim_fixture.h"

namespace maltor::test {

static_assert(std::endian::native == std::endian::little,
              "output bytes are compared with little-endian reply bytes");

// Output bytes [at, at + size) must equal reply bytes [from, from + size),
// or be 0 when `from` is kZeros.
struct Copy {
  std::uint32_t at;
  std::int32_t from;
  std::uint32_t size;
};
inline constexpr std::int32_t kZeros = -1;

// Where a call's outputs live: 8-byte aligned so integer outputs can sit at
// any multiple of their size.
struct alignas(8) Outputs {
  static constexpr std::uint8_t kUntouched = 0xEE;
  std::uint8_t bytes[512];
  Outputs() { std::memset(bytes, kUntouched, sizeof bytes); }
  template <typename T>
  T* at(std::uint32_t offset) {
    return reinterpret_cast<T*>(bytes + offset);
  }
  bool untouched() const {
    for (const std::uint8_t b : bytes) {
      if (b != kUntouched) return false;
    }
    return true;
  }
};

struct OpCase {
  std::string name;
  std::function<std::uint8_t(Outputs&)> call;
  Bytes frame;                   // written with the sequence counter at 0
  std::vector<Copy> copies;      // what the outputs receive from the reply
  bool sequenced = true;         // stamps the frame and moves the counter
  std::uint32_t wait_ms = 5000;  // how long it waits for a reply that never comes
  std::uint8_t kind = 2;         // device kind to plug
};

inline void PrintTo(const OpCase& op, std::ostream* os) {
  *os << op.name;
}

using DeviceTest = SimTest;

inline std::string case_name(const ::testing::TestParamInfo<OpCase>& info) {
  return info.param.name;
}

// The checks every row gets: frame and decode, no device, silent device.
class OpCaseTest : public DeviceTest, public ::testing::WithParamInterface<OpCase> {
 protected:
  void frame_and_decode() {
    const OpCase& op = GetParam();
    plug_and_connect(op.kind);
    const std::uint8_t sequence = next_sequence();
    Outputs out;
    ASSERT_EQ(op.call(out), MALTOR_OK);

    EXPECT_EQ(frames_written(),
              std::vector<Bytes>{op.sequenced ? stamped(op.frame, sequence) : op.frame});
    const Bytes reply = last_reply();
    Outputs expected;
    for (const Copy& c : op.copies) {
      ASSERT_LE(c.from + c.size, reply.size()) << "reply too short for output at " << c.at;
      for (std::uint32_t i = 0; i < c.size; ++i) {
        expected.bytes[c.at + i] = c.from == kZeros ? 0 : reply[c.from + i];
      }
    }
    // Every output byte as expected, and nothing written beside the outputs.
    EXPECT_EQ(Bytes(out.bytes, out.bytes + sizeof out.bytes),
              Bytes(expected.bytes, expected.bytes + sizeof expected.bytes));
    EXPECT_EQ(probe_sequence(), static_cast<std::uint8_t>(sequence + (op.sequenced ? 1 : 0)));
  }

  // Refused after the device went away: nothing sent, no number used.
  void no_device() {
    const OpCase& op = GetParam();
    const std::int32_t id = plug_and_connect(op.kind);
    const std::uint8_t sequence = next_sequence();
    ASSERT_EQ(MaltorSim_Unplug(id), 0);
    ASSERT_EQ(DeviceIsReady(), 0);
    Outputs out;
    EXPECT_EQ(op.call(out), MALTOR_ERR_NO_DEVICE);
    EXPECT_TRUE(out.untouched());
    EXPECT_EQ(MaltorSim_TraceCount(), 0u);
    ASSERT_EQ(MaltorSim_Replug(id), 0);
    ASSERT_NE(DeviceIsReady(), 0);
    EXPECT_EQ(probe_sequence(), sequence);
  }

  void silent_device() {
    const OpCase& op = GetParam();
    const std::int32_t id = plug_and_connect(op.kind);
    const std::uint8_t sequence = next_sequence();
    ASSERT_EQ(MaltorSim_InjectFault(id, MALTOR_SIM_FAULT_NO_REPLY, MALTOR_SIM_ANY_COMMAND, 1, 0),
              0);
    Outputs out;
    const std::uint64_t waited = virtual_ms([&] { EXPECT_EQ(op.call(out), MALTOR_ERR_EXCHANGE); });
    EXPECT_TRUE(out.untouched());
    EXPECT_EQ(frames_written().size(), 1u);
    // A failed exchange used its number.
    EXPECT_EQ(probe_sequence(), static_cast<std::uint8_t>(sequence + (op.sequenced ? 1 : 0)));
    EXPECT_GE(waited, op.wait_ms);
    EXPECT_LT(waited, op.wait_ms + 100u);
  }
};

}  // namespace maltor::test
