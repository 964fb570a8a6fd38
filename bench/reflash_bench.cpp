// A whole SCReflashFile through the virtual device: a 524,288-byte image in
// 1,070 data frames on a high-speed link (12,484 on a full-speed one), 1,072
// (12,486) synchronous round trips in all. Reports the time per reflash and
// per frame, and the heap allocations per reflash (operator new only; the C
// runtime's file buffer is not counted).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "counting_new.h"

namespace {

constexpr std::uint32_t kImageBytes = 524288;

// Writes the image for one benchmark run; the run removes it when it ends.
std::string write_image() {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("maltor_reflash_bench_" + std::to_string(getpid()));
  std::vector<char> bytes(kImageBytes);
  for (std::uint32_t i = 0; i < kImageBytes; ++i) bytes[i] = static_cast<char>(i * 31 + 7);
  std::ofstream(file, std::ios::binary).write(bytes.data(), kImageBytes);
  return file.string();
}

void BM_ReflashFile(benchmark::State& state) {
  const auto speed = static_cast<std::uint8_t>(state.range(0));
  const double frames = speed == MALTOR_SIM_HIGH_SPEED ? 1072 : 12486;
  CloseDevice();
  MaltorSim_Reset();
  if (MaltorSim_Plug(1, speed, -1) <= 0 || DeviceIsReady() == 0) {
    state.SkipWithError("the virtual device did not connect");
    return;
  }
  const std::string path = write_image();
  std::uint64_t allocations = 0;
  std::uint64_t failures = 0;
  for (auto _ : state) {
    const std::uint64_t before = maltor::test::allocation_count();
    failures += SCReflashFile(path.c_str()) != MALTOR_OK;
    allocations += maltor::test::allocation_count() - before;
    // The trace would otherwise grow with every run.
    state.PauseTiming();
    MaltorSim_TraceClear();
    state.ResumeTiming();
  }
  state.counters["allocs_per_reflash"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  state.counters["frames_per_s"] =
      benchmark::Counter(frames, benchmark::Counter::kIsIterationInvariantRate);
  if (!MALTOR_ALLOCATIONS_COUNTED) state.SetLabel("allocations not counted (sanitizer build)");
  if (failures != 0) state.SkipWithError("a reflash failed");
  CloseDevice();
  MaltorSim_Reset();
  std::filesystem::remove(path);
}
BENCHMARK(BM_ReflashFile)
    ->Arg(MALTOR_SIM_HIGH_SPEED)
    ->Arg(MALTOR_SIM_FULL_SPEED)
    ->ArgName("speed")
    ->Unit(benchmark::kMillisecond);

}  // namespace
