// No exchange allocates memory: counted over real round trips through the
// virtual device, from the first exchange after connecting on.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "counting_new.h"
#include "link/connection.h"

namespace maltor::test {
namespace {

std::uint8_t firmware_version() {
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  return SCGetFirmwareVersion(&word, &a, &b, &c);
}

std::uint8_t serial_number() {
  std::uint8_t block[128];
  return SCGetSerialNumber(block);
}

struct ExchangeCase {
  const char* name;
  std::uint8_t (*run)();
};

constexpr ExchangeCase kExchanges[] = {
    {"SCGetFirmwareVersion", firmware_version},
    {"SCGetSerialNumber", serial_number},
};

TEST(ExchangeAllocationTest, ExchangesAllocateNothing) {
#if !MALTOR_ALLOCATIONS_COUNTED
  GTEST_SKIP() << "the sanitizer supplies operator new; allocations are not counted";
#else
  // Linked from the static archive, the library's load-time entry point is
  // not in the program; run its process-attach step as the loader would.
  link::library_attach();
  MaltorSim_Reset();
  ASSERT_GT(MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1), 0);
  ASSERT_NE(DeviceIsReady(), 0);

  // The counter must see an allocation, or a zero below would prove nothing.
  const std::uint64_t probe = allocation_count();
  ::operator delete(::operator new(8));
  ASSERT_EQ(allocation_count() - probe, 1u) << "the counting operator new is not linked in";

  constexpr int kRounds = 100;
  for (const ExchangeCase& exchange : kExchanges) {
    std::array<std::uint8_t, kRounds> results{};
    const std::uint64_t before = allocation_count();
    for (std::uint8_t& result : results) result = exchange.run();
    const std::uint64_t allocations = allocation_count() - before;

    EXPECT_EQ(allocations, 0u) << exchange.name << " allocated over " << kRounds << " exchanges";
    for (const std::uint8_t result : results) ASSERT_EQ(result, MALTOR_OK) << exchange.name;
  }
  CloseDevice();
  MaltorSim_Reset();
#endif
}

}  // namespace
}  // namespace maltor::test
