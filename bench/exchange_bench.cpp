// One standard exchange (SCGetFirmwareVersion) through the virtual device:
// time per round trip and heap allocations per round trip, which must be 0,
// without and with a USB trace running (/0 and /1; with it, the trace's bytes
// per exchange too).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>

#include "MaltorUSBdrv.h"
#include "MaltorUSBdrv_sim.h"
#include "counting_new.h"
#include "link/exchange_lock.h"
#include "link/usb_trace.h"

namespace {

// Slot 0 must be closed before the bus is emptied: a stale handle in it would
// make the next DeviceIsReady fail once before discovering afresh.
void unplug_all() {
  CloseDevice();
  MaltorSim_Reset();
}

// Runs the exchange benchmark; with `lock_held` the loop holds the exchange
// lock throughout, so each call finds it already taken: the exchange as it
// ran before there was a lock to wait for. The two figures side by side, in
// one run, give the lock's cost.
void exchange_loop(benchmark::State& state, bool lock_held) {
  unplug_all();
  if (MaltorSim_Plug(1, MALTOR_SIM_HIGH_SPEED, -1) <= 0 || DeviceIsReady() == 0) {
    state.SkipWithError("the virtual device did not connect");
    return;
  }
  const bool traced = state.range(0) != 0;
  const char* trace_path = "maltor_exchange_bench.pcapng";
  if (traced && MaltorTraceStart(trace_path) != MALTOR_OK) {
    state.SkipWithError("the trace could not be started");
    return;
  }
  const std::uint64_t bytes_before = maltor::trace::bytes_written();
  std::uint16_t word = 0;
  std::uint8_t a = 0, b = 0, c = 0;
  std::uint64_t allocations = 0;
  std::uint64_t failures = 0;
  if (lock_held) maltor::link::g_exchange_lock.lock();
  for (auto _ : state) {
    // Counted around the call only, so the benchmark loop's own work stays out.
    const std::uint64_t before = maltor::test::allocation_count();
    const std::uint8_t result = SCGetFirmwareVersion(&word, &a, &b, &c);
    allocations += maltor::test::allocation_count() - before;
    failures += result != MALTOR_OK;
    benchmark::DoNotOptimize(word);
  }
  if (lock_held) maltor::link::g_exchange_lock.unlock();
  state.counters["allocs_per_exchange"] =
      benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
  if (traced) {
    state.counters["trace_bytes_per_exchange"] =
        benchmark::Counter(static_cast<double>(maltor::trace::bytes_written() - bytes_before),
                           benchmark::Counter::kAvgIterations);
    MaltorTraceStop();
    std::remove(trace_path);
  }
  if (!MALTOR_ALLOCATIONS_COUNTED) state.SetLabel("allocations not counted (sanitizer build)");
  if (failures != 0) state.SkipWithError("an exchange failed");
  unplug_all();
}

void BM_FirmwareVersionExchange(benchmark::State& state) {
  exchange_loop(state, false);
}
BENCHMARK(BM_FirmwareVersionExchange)->ArgName("traced")->Arg(0)->Arg(1);

void BM_FirmwareVersionExchangeLockHeld(benchmark::State& state) {
  exchange_loop(state, true);
}
BENCHMARK(BM_FirmwareVersionExchangeLockHeld)->ArgName("traced")->Arg(0);

}  // namespace
