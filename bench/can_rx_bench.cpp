// CANRx against an idle virtual device, which answers every poll at once with
// a count of 0: polls per second of real time, and heap allocations per call,
// which must be 0.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "counting_new.h"

namespace {

void unplug_all() {
  CloseDevice();
  MaltorSim_Reset();
}

void BM_CanRxIdlePolls(benchmark::State& state) {
  unplug_all();
  if (MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1) <= 0 || DeviceIsReady() == 0) {
    state.SkipWithError("the virtual device did not connect");
    return;
  }
  // Each poll reads the tick counter once, which moves virtual time by 1 ms,
  // so a call of T ms makes about T polls; each leaves two trace entries
  // (frame and reply), within the trace's 4,096.
  const auto timeout_ms = static_cast<std::uint32_t>(state.range(0));
  std::uint64_t polls = 0;
  std::uint64_t allocations = 0;
  std::uint64_t unexpected = 0;
  for (auto _ : state) {
    MaltorSim_TraceClear();
    MaltorCanMessage message{};
    message.receive_timeout = timeout_ms;
    std::uint16_t count = 0;
    const std::uint64_t before = maltor::test::allocation_count();
    const std::uint8_t result = CANRx(&count, &message);
    allocations += maltor::test::allocation_count() - before;
    polls += MaltorSim_TraceCount() / 2;
    unexpected += result != MALTOR_ERR_EXCHANGE;
  }
  state.counters["polls"] =
      benchmark::Counter(static_cast<double>(polls), benchmark::Counter::kAvgIterations);
  state.counters["polls_per_s"] =
      benchmark::Counter(static_cast<double>(polls), benchmark::Counter::kIsRate);
  state.counters["allocs_per_call"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  if (!MALTOR_ALLOCATIONS_COUNTED) state.SetLabel("allocations not counted (sanitizer build)");
  if (unexpected != 0) state.SkipWithError("an idle receive did not time out");
  unplug_all();
}
BENCHMARK(BM_CanRxIdlePolls)->Arg(100)->Arg(1000)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
