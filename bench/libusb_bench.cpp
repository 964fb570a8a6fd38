// One standard exchange (SCGetFirmwareVersion) and a whole SCReflashFile
// (1,072 frames on a high-speed link) through the libusb backend and a device
// emulated with umockdev: the real libusb and usbdevfs requests answered by
// the virtual device's model. Run it with umockdev's preload library:
// umockdev-wrapper ./maltor_libusb_bench
//
// The times include umockdev's round trip through a socket for every usbdevfs
// request, so they bound the library's own cost from above. Allocations count
// operator new only (libusb allocates with calloc on each submission).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MaltorUSBdrv.h"
#include "counting_new.h"
#include "emulated_device.h"
#include "link/connection.h"

namespace {

void BM_LibusbFirmwareVersionExchange(benchmark::State& state) {
  if (DeviceIsReady() == 0) {
    state.SkipWithError("the emulated device did not connect");
    return;
  }
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  std::uint64_t allocations = 0;
  std::uint64_t failures = 0;
  for (auto _ : state) {
    const std::uint64_t before = maltor::test::allocation_count();
    failures += SCGetFirmwareVersion(&word, &a, &b, &c) != MALTOR_OK;
    allocations += maltor::test::allocation_count() - before;
    benchmark::DoNotOptimize(word);
  }
  state.counters["allocs_per_exchange"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  if (failures != 0) state.SkipWithError("an exchange failed");
}
BENCHMARK(BM_LibusbFirmwareVersionExchange)->Unit(benchmark::kMicrosecond);

void BM_LibusbReflashFile(benchmark::State& state) {
  if (DeviceIsReady() == 0) {
    state.SkipWithError("the emulated device did not connect");
    return;
  }
  constexpr std::uint32_t kImageBytes = 524288;
  const std::filesystem::path image = std::filesystem::temp_directory_path() /
                                      ("maltor_libusb_reflash_" + std::to_string(getpid()));
  std::vector<char> bytes(kImageBytes);
  for (std::uint32_t i = 0; i < kImageBytes; ++i) bytes[i] = static_cast<char>(i * 31 + 7);
  std::ofstream(image, std::ios::binary).write(bytes.data(), kImageBytes);
  const std::string path = image.string();
  std::uint64_t failures = 0;
  for (auto _ : state) failures += SCReflashFile(path.c_str()) != MALTOR_OK;
  state.counters["frames_per_s"] =
      benchmark::Counter(1072, benchmark::Counter::kIsIterationInvariantRate);
  std::filesystem::remove(image);
  if (failures != 0) state.SkipWithError("a reflash failed");
}
BENCHMARK(BM_LibusbReflashFile)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // Linked from the static archive, the library's load-time entry point is
  // not in the program; run its process-attach step as the loader would.
  maltor::link::library_attach();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const char* preload = std::getenv("LD_PRELOAD");
  if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
    std::fprintf(stderr, "run under umockdev-wrapper\n");
    return 1;
  }
  // One testbed for the whole run: libusb watches the bus it found first.
  UMockdevTestbed* testbed = umockdev_testbed_new();
  {
    maltor::test::EmulatedDevice logger(testbed, {1, 0x4D54, 0x0001, "MTR0001", 480, 1});
    logger.plug();
    benchmark::RunSpecifiedBenchmarks();
    CloseDevice();
  }
  g_object_unref(testbed);
  benchmark::Shutdown();
  return 0;
}
