#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a fixed time from the seed
# corpus in fuzz/corpus. Usage: scripts/ci-fuzz.sh [BUILD_DIR [SECONDS_EACH]]
# Prints one summary line per harness; a finding stops with its report and
# leaves the input in BUILD_DIR/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz}
seconds=${2:-30}
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMALTOR_FUZZ=ON -DMALTOR_BUILD_TESTS=OFF -DMALTOR_BUILD_BENCH=OFF -DMALTOR_BUILD_TOOL=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target maltor_fuzz_replies maltor_fuzz_stream \
  >"$dir/build.log" 2>&1 || { tail -n 40 "$dir/build.log"; exit 1; }
mkdir -p "$dir/findings"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for harness in replies stream; do
  # New inputs go to a scratch corpus; the seeds in the repository stay as they are.
  work="$dir/corpus-$harness"
  mkdir -p "$work"
  status=0
  "$dir/fuzz/maltor_fuzz_$harness" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$dir/findings/$harness-" "$work" "fuzz/corpus/$harness" \
    >"$dir/fuzz-$harness.log" 2>&1 || status=$?
  runs=$(grep -Eo 'Done [0-9]+ runs' "$dir/fuzz-$harness.log" | grep -Eo '[0-9]+' || echo "?")
  if [ $status -ne 0 ]; then
    tail -n 60 "$dir/fuzz-$harness.log"
    echo "[fuzz] $harness: FINDING after ${seconds}s (input in $dir/findings)"
    exit 1
  fi
  echo "[fuzz] $harness: $runs inputs in ${seconds}s, no finding"
done
