#!/usr/bin/env bash
# ThreadSanitizer build: the tests where threads meet inside the library (two
# threads exchanging, stops racing downloads, exchanges against a living
# update) and the update stress test. Prints one summary line; on a report or
# a failure, the test output.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-tsan}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMALTOR_TSAN=ON \
  -DMALTOR_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target maltor_sim_tests >"$dir/build.log" 2>&1 ||
  { tail -n 40 "$dir/build.log"; exit 1; }

filter='Threads.*:Cases/UpdateAlive.*:UpdateStress.*:Transfers.SecondThread*:LogDownload.Stop*'
start=$(date +%s)
status=0
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  "$dir/tests/maltor_sim_tests" --gtest_filter="$filter" --gtest_brief=1 >"$dir/tsan.log" 2>&1 ||
  status=$?
seconds=$(($(date +%s) - start))
if [ $status -ne 0 ] || grep -q 'WARNING: ThreadSanitizer' "$dir/tsan.log"; then
  cat "$dir/tsan.log"
  echo "[tsan] FAILED after ${seconds}s"
  exit 1
fi
echo "[tsan] $(grep -Eo '[0-9]+ tests? from [0-9]+ test suites? ran' "$dir/tsan.log" | head -n 1), no report, ${seconds}s"
