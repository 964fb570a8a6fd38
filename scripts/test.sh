#!/usr/bin/env bash
# Builds and runs the whole test suite: the normal build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build, then the Windows build
# under wine, then the other builds users make and the packages. Warnings are
# errors in every build. ctest's summary of the normal build is the last thing
# printed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh

jobs=$(nproc)
build() {  # build DIR [cmake options...]
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMALTOR_WERROR=ON \
    -DMALTOR_BUILD_TESTS=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

# The normal build is the GCC Release build users make, installed under /usr
# by the packages made from it.
build build -DCMAKE_BUILD_TYPE=Release -DMALTOR_BUILD_BENCH=ON -DCMAKE_INSTALL_PREFIX=/usr
scripts/ci-python.sh build  # the Python package in a venv, its tests against the sim library
build build-asan -DMALTOR_SANITIZE=ON -DMALTOR_BUILD_BENCH=OFF

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
ctest --test-dir build-asan -j "$jobs" --output-on-failure >build-asan/ctest.log 2>&1 || status=$?
grep -E 'tests passed|Total Test time' build-asan/ctest.log | sed 's/^/[asan] /' || true
[ $status -eq 0 ] || { cat build-asan/ctest.log; exit $status; }

scripts/ci-several-devices.sh build
scripts/ci-tsan.sh build-tsan   # ThreadSanitizer: threads meeting inside the library
scripts/ci-fuzz.sh build-fuzz 30   # libFuzzer harnesses, 30 s each

# The Windows DLLs: cross-built, export tables checked, tests run under wine.
mkdir -p build-win
status=0
scripts/test-windows.sh build-win >build-win/test-windows.log 2>&1 || status=$?
grep '^\[windows\]' build-win/test-windows.log || true
[ $status -eq 0 ] || { tail -n 60 build-win/test-windows.log; exit $status; }
scripts/ci-tool.sh build  # the maltor tool from the shell: JSON, stderr progress, candump logs, signals
scripts/ci-builds.sh                      # GCC Debug, clang Release, mingw configure
scripts/ci-package.sh build build-win     # install, consumers, .deb, Windows zip
scripts/ci-trace.sh build
ctest --test-dir build -j "$jobs" --output-on-failure
