#!/usr/bin/env bash
# The builds users make that the test suite does not: GCC Debug and clang
# Release, the libraries and the tool only, warnings as errors; and a
# configure of the Windows cross-build with nothing but the toolchain file.
# Prints one line per build with its time. Usage: scripts/ci-builds.sh
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
say() { echo "[builds] $*"; }

status=0
build() {  # NAME [cmake options...]
  local name=$1 dir=build-$1 start log
  shift
  start=$(date +%s)
  mkdir -p "$dir"
  log=$dir/ci-build.log
  if cmake -S . -B "$dir" -G Ninja -DMALTOR_WERROR=ON -DMALTOR_BUILD_TESTS=OFF \
       -DMALTOR_BUILD_BENCH=OFF "$@" >"$log" 2>&1 &&
     cmake --build "$dir" -j "$jobs" >>"$log" 2>&1; then
    say "$name: libraries and tool built without a warning in $(($(date +%s) - start)) s"
  else
    say "$name: FAILED after $(($(date +%s) - start)) s"
    tail -n 40 "$log"
    status=1
  fi
}

build gcc-debug -DCMAKE_BUILD_TYPE=Debug
build clang-release -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

# A user's cross-build names only the toolchain file: it must configure (the
# build itself is the Windows suite's).
dir=$(mktemp -d)
if cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchain-mingw64.cmake" \
     >"$dir.log" 2>&1; then
  say "mingw with only the toolchain file configures: $(grep -o 'build type [A-Za-z]*' "$dir.log"), $(
    grep -o 'benchmarks: [a-z]*' "$dir.log")"
else
  say "mingw with only the toolchain file: configure FAILED"
  tail -n 20 "$dir.log"
  status=1
fi
rm -rf "$dir" "$dir.log"
exit $status
