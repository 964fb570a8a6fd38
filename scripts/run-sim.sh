#!/usr/bin/env bash
# Builds the library and the maltor tool, then shows the tool against the
# virtual device. Extra arguments go to maltor (default: "devices" and "status").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target maltor MaltorUSBdrv_sim
if [ $# -gt 0 ]; then
  exec build/tools/maltor/maltor --sim "$@"
fi
build/tools/maltor/maltor --sim devices
build/tools/maltor/maltor --sim status
