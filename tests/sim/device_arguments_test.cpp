// Null outputs and null data are refused before anything is sent, for the
// identity, settings and storage-catalogue operations alike.
#include <functional>

#include "sim_fixture.h"

namespace maltor::test {
namespace {

using Arguments = SimTest;

TEST_F(Arguments, NullPointersAreRefusedBeforeAnythingIsSent) {
  plug_and_connect();
  const std::uint8_t sequence = next_sequence();
  uint8_t b[512];
  uint16_t h = 0;
  uint32_t w = 0;
  const std::function<uint8_t()> calls[] = {
      [&] { return SCGetFirmwareVersion(nullptr, b, b, b); },
      [&] { return SCGetFirmwareVersion(&h, b, b, nullptr); },
      [&] { return GetFirmwareVersion(nullptr); },
      [&] { return SCGetSerialNumber(nullptr); },
      [&] { return SCSetSerialNumber(1, nullptr); },
      [&] { return GetMicroType(nullptr); },
      [&] { return GetMaltorInfo(b, nullptr); },
      [&] { return SCGetMMCInfo(nullptr); },
      [&] { return SCUSBGetConfigInfo(nullptr, &w); },
      [&] { return GetConfigurationInfo(nullptr); },
      [&] { return GetEEPROMPageFormat(0, nullptr); },
      [&] { return SCGetDateTime(nullptr); },
      [&] { return SCGetHWSettings(nullptr); },
      [&] { return SCSetHWSettings(0, 0, 1, nullptr); },
      [&] { return GetSingleHWSetting(0, nullptr); },
      [&] { return SCSDLogCount(nullptr); },
      [&] { return SCSDLogInfo(0, &w, &w, &w, &w, &w, &w, &w, b, b, nullptr); },
      [&] { return SCSDLogInfo(0, nullptr, &w, &w, &w, &w, &w, &w, b, b, b); },
      [&] { return SCPartitionLogCount(0, nullptr); },
      [&] { return SCPartitionLogInfo(0, 0, &w, &w, &w, &w, &w, &w, &w, nullptr, b, b); },
      [&] { return SCSDCurrentSector(nullptr); },
      [&] { return SCSDFormat(0, nullptr); },
      [&] { return SCPartitionFormat(0, 0, nullptr, nullptr); },
      [&] { return SCPartitionFormat(0, 2, nullptr, &h); },
      [&] { return MirelGetLogCount(&h, nullptr); },
      [&] { return MirelGetFirstLogSection(nullptr, &w); },
      [&] { return MirelGetActiveLogSection(&w, &w, nullptr, &w); },
      [&] { return MirelGetDescriptorInfo(0, nullptr); },
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    EXPECT_EQ(calls[i](), MALTOR_ERR_ARGUMENT) << "call " << i;
  }
  EXPECT_EQ(MaltorSim_TraceCount(), 0u);
  EXPECT_EQ(probe_sequence(), sequence);
}

}  // namespace
}  // namespace maltor::test
