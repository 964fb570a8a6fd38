#!/usr/bin/env bash
# Two processes, each choosing its own emulated device, download 64 MiB at the
# same time and one after the other; the files are checked byte for byte.
# Prints one line: both times and their ratio. Usage: scripts/ci-several-devices.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bench="$build/bench/maltor_parallel_download_bench"
if [ ! -x "$bench" ]; then
  echo "[several devices] skipped: $bench was not built (needs umockdev)"
  exit 0
fi
status=0
line=$(umockdev-wrapper "$bench" --mib 64 2>&1) || status=$?
echo "[several devices] $line"
exit $status
