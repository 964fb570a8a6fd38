#!/usr/bin/env bash
# The Python package: installs it into a fresh venv the way a user without a
# package index does (build backend and pytest from Debian's packages) and
# runs its tests against the virtual-device library of the build in $1
# (default build). Prints pytest's summary on one line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
library=$PWD/$build/src/libMaltorUSBdrv_sim.so
[ -f "$library" ] || { echo "[python] $library is missing: build first" >&2; exit 1; }

start=$(date +%s)
venv=$build/python-venv
log=$build/python-tests.log
rm -rf "$venv"
/usr/bin/python3 -m venv --system-site-packages "$venv"
if ! "$venv/bin/pip" install --no-index --no-build-isolation --disable-pip-version-check \
  ./python >"$log" 2>&1; then
  cat "$log"
  exit 1
fi
rm -rf python/build  # setuptools builds in the source tree

status=0
MALTOR_LIBRARY=$library "$venv/bin/python" -m pytest -q -p no:cacheprovider python/tests \
  >>"$log" 2>&1 || status=$?
summary=$(tail -n 1 "$log" | sed 's/=//g; s/^ *//; s/ *$//')
echo "[python] $summary (venv, install and tests: $(($(date +%s) - start)) s)"
[ $status -eq 0 ] || { tail -n 80 "$log"; exit $status; }
