// GetLiveData on an idle stream: the cost of a call that finds no record and
// leaves its read pending, and the heap allocations it makes (must be 0).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "counting_new.h"
#include "live/live_read.h"

namespace {

void BM_GetLiveDataIdle(benchmark::State& state) {
  CloseDevice();
  MaltorSim_Reset();
  maltor::live::reset_live_read();
  const std::int32_t id = MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1);
  if (id <= 0 || DeviceIsReady() == 0) {
    state.SkipWithError("the virtual device did not connect");
    return;
  }
  MaltorSim_SetOption(id, MALTOR_SIM_OPT_LIVE_PERIOD, 0);  // nothing ever arrives
  std::uint8_t record[512];
  std::uint64_t allocations = 0;
  std::uint64_t records = 0;
  for (auto _ : state) {
    const std::uint64_t before = maltor::test::allocation_count();
    records += SCUSBGetLiveData(0, record) == MALTOR_OK;
    allocations += maltor::test::allocation_count() - before;
    benchmark::DoNotOptimize(record);
  }
  state.counters["allocs_per_call"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  if (!MALTOR_ALLOCATIONS_COUNTED) state.SetLabel("allocations not counted (sanitizer build)");
  if (records != 0) state.SkipWithError("an idle stream delivered a record");
  CloseDevice();
  MaltorSim_Reset();
  maltor::live::reset_live_read();
}
BENCHMARK(BM_GetLiveDataIdle);

}  // namespace
