#!/usr/bin/env bash
# Cross-builds the Windows DLLs and programs with mingw-w64, checks the DLLs'
# export tables against the .def files, and runs the Windows test suite and the
# real DLL under wine. Usage: scripts/test-windows.sh [build dir]
# (default build-win). Exits non-zero when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${1:-build-win}")
triplet=x86_64-w64-mingw32
wine=/usr/lib/wine/wine64

say() { echo "[windows] $*"; }

cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DMALTOR_WERROR=ON -DMALTOR_BUILD_TESTS=ON -DMALTOR_BUILD_BENCH=OFF \
  -DMALTOR_BUILD_TOOL="${MALTOR_WINDOWS_TOOL:-ON}" >/dev/null
cmake --build "$build" -j "$(nproc)"
bin="$build/bin"

# ---- Export tables ---------------------------------------------------------

# The exported names of .def files: first word of each line after EXPORTS.
def_names() {
  awk 'FNR == 1 { on = 0 }
       /^[ \t]*EXPORTS/ { on = 1; next }
       on && $1 !~ /^;/ && NF { print $1 }' "$@" | sort
}

# The names in a DLL's export name table.
dll_names() {
  "$triplet-objdump" -p "$1" |
    awk '/\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
         on && NF == 0 { on = 0 }
         on { print $NF }' | sort
}

# The DLLs a binary imports that Windows itself does not provide.
foreign_imports() {
  "$triplet-objdump" -p "$1" | awk '/DLL Name:/ { print $3 }' |
    grep -viE '^(kernel32|msvcrt|setupapi|winusb|cfgmgr32|advapi32|user32|ntdll)\.dll$' || true
}

exports_ok=0
check_exports() {  # DLL DEF...
  local dll=$1
  shift
  local expected actual missing extra mangled foreign
  expected=$(def_names "$@")
  actual=$(dll_names "$dll")
  missing=$(comm -23 <(echo "$expected") <(echo "$actual"))
  extra=$(comm -13 <(echo "$expected") <(echo "$actual"))
  mangled=$(echo "$actual" | grep -E '^_Z|[?@]' || true)
  foreign=$(foreign_imports "$dll")
  say "$(basename "$dll"): $(echo "$actual" | grep -c .) exported, $(echo "$expected" | grep -c .) in $(basename -a "$@" | paste -sd+)"
  [ -z "$missing" ] || { say "  missing: $(echo $missing)"; exports_ok=1; }
  [ -z "$extra" ] || { say "  not in the .def files: $(echo $extra)"; exports_ok=1; }
  [ -z "$mangled" ] || { say "  C++ mangled: $(echo $mangled)"; exports_ok=1; }
  [ -z "$foreign" ] || { say "  imports runtime DLLs: $(echo $foreign)"; exports_ok=1; }
}
check_exports "$bin/MaltorUSBdrv.dll" src/exports/MaltorUSBdrv.def
check_exports "$bin/MaltorUSBdrv_sim.dll" src/exports/MaltorUSBdrv.def src/exports/MaltorUSBdrv_sim.def
if [ $exports_ok -eq 0 ]; then say "export tables match the .def files"; fi

# ---- Tests under wine --------------------------------------------------------

# The prefix the toolchain file gave ctest's wine runs; created here without
# any dialog (no Mono or Gecko installers) so that CI needs no display.
export WINEDEBUG=-all
WINEPREFIX=$(sed -n 's/^MALTOR_WINEPREFIX:PATH=//p' "$build/CMakeCache.txt")
export WINEPREFIX
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "creating wine prefix $WINEPREFIX"
  WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot --init >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi

status=0
log="$build/ctest-windows.log"
ctest --test-dir "$build" -j 2 -V --timeout 300 >"$log" 2>&1 || status=$?
# One line per test program: gtest's counts, or the real DLL check's verdict.
awk '
  match($0, /^[0-9]+: /) { n = substr($0, 1, RLENGTH - 2); line = substr($0, RLENGTH + 1) }
  !RLENGTH || RSTART != 1 { next }
  line ~ /^Test command:/ { match(line, /[^\/"]+\.exe/); name[n] = substr(line, RSTART, RLENGTH - 4); order[++count] = n }
  line ~ /^\[==========\] [0-9]+ tests? from .* ran/ { split(line, w, " "); ran[n] = w[2] }
  line ~ /^\[  (PASSED|SKIPPED) +\] [0-9]+ tests?[.,]/ { split(line, w, " "); tally[n, w[2]] = w[4] }
  line ~ /^\[  FAILED  \] [^ ]+ \(/ { split(line, w, " "); failed[n] = failed[n] " " w[4] }
  line ~ /^real DLL check/ { verdict[n] = line }
  END {
    for (i = 1; i <= count; ++i) {
      n = order[i]
      if (n in verdict) { printf "%s: %s\n", name[n], verdict[n]; continue }
      printf "%s: %d tests ran, %d passed, %d skipped, %d failed%s\n", name[n], ran[n],
             tally[n, "PASSED"], tally[n, "SKIPPED"],
             ran[n] - tally[n, "PASSED"] - tally[n, "SKIPPED"], failed[n]
    }
  }' "$log" | sed 's/^/[windows] /'
grep -E 'tests passed|Total Test time' "$log" | sed 's/^/[windows] /' || true
if [ $status -ne 0 ]; then
  grep -E '\(Failed|\(Timeout|\(SEGFAULT|\(Child aborted|\*\*\*' "$log" | sed 's/^/[windows] /' || true
  say "test output: $log"
fi
[ $status -eq 0 ] && [ $exports_ok -eq 0 ]
