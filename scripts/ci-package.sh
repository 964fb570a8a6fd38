#!/usr/bin/env bash
# The library as users get it, from an already built Linux build (configured
# with -DCMAKE_INSTALL_PREFIX=/usr) and Windows build:
#   - SONAME and binding of both shared libraries;
#   - an install to a scratch folder, used by a C program through pkg-config,
#     a CMake project through find_package, and the installed tool through its
#     run path;
#   - the Debian packages: built, installed with dpkg, maltor --sim devices
#     run from /usr/bin, removed with nothing left behind;
#   - the Windows zip and its contents.
# Usage: scripts/ci-package.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath "$1")
build_win=$(realpath "$2")
say() { echo "[package] $*"; }
fail() { say "FAILED: $*"; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# ---- The shared libraries ----------------------------------------------------
for library in MaltorUSBdrv MaltorUSBdrv_sim; do
  file=$(readlink -f "$build/src/lib$library.so")
  soname=$(readelf -d "$file" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$soname" = "lib$library.so.0" ] || fail "$file has SONAME '$soname'"
  # Relocations against the exported names (the .def files list them).
  exported=$(awk '/^[ \t]*EXPORTS/ { on = 1; next } on && NF && $1 !~ /^;/ { print $1 }' \
               src/exports/*.def | sort -u)
  bound=$(objdump -R "$file" | awk 'NR > 5 { sub(/@.*/, "", $3); print $3 }' | sort -u |
            comm -12 - <(echo "$exported"))
  [ -z "$bound" ] || fail "$file: relocations against exported names: $(echo $bound)"
  say "$(basename "$file"): SONAME $soname, no relocation against an exported name"
done

# ---- Installed to a scratch folder, and used -----------------------------------
DESTDIR=$scratch/root cmake --install "$build" >/dev/null
prefix=$scratch/root$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
libdir=$(dirname "$(find "$prefix" -name libMaltorUSBdrv_sim.so.0)")

example=$root/tests/consumer/sim_example.c
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$scratch/pkg_example" "$example" \
  $(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs maltorusbdrv-sim)
LD_LIBRARY_PATH=$libdir "$scratch/pkg_example" >"$scratch/pkg.out" || fail "pkg-config consumer: $(cat "$scratch/pkg.out")"
say "pkg-config consumer runs: $(tail -n 1 "$scratch/pkg.out")"

cmake -S tests/consumer -B "$scratch/cmake_consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >/dev/null
cmake --build "$scratch/cmake_consumer" >/dev/null
"$scratch/cmake_consumer/sim_example" >"$scratch/cmake.out" || fail "CMake consumer: $(cat "$scratch/cmake.out")"
say "find_package consumer runs: $(tail -n 1 "$scratch/cmake.out")"

# The installed tool finds the installed library through its run path alone.
env -u LD_LIBRARY_PATH -u MALTOR_LIBRARY "$prefix/bin/maltor" --sim devices >/dev/null ||
  fail "the tool installed in $prefix does not find its library"
say "maltor installed under $prefix/bin finds $(basename "$libdir")/libMaltorUSBdrv_sim.so.0"

# ---- Debian packages -----------------------------------------------------------
(cd "$build" && cpack -G DEB >"$scratch/cpack-deb.log" 2>&1) || { cat "$scratch/cpack-deb.log"; fail "cpack DEB"; }
debs=("$build"/packages/*.deb)
for deb in "${debs[@]}"; do say "$(basename "$deb"): $(stat -c %s "$deb") bytes"; done
packages=$(for deb in "${debs[@]}"; do dpkg-deb -f "$deb" Package; done)
dpkg -i "${debs[@]}" >/dev/null
# The files and links the packages own (directories such as /usr stay).
# shellcheck disable=SC2086
owned=$(dpkg -L $packages | sort -u | while read -r path; do
  [ -d "$path" ] || echo "$path"
done)
/usr/bin/maltor --sim devices >"$scratch/deb.out" 2>&1 || { cat "$scratch/deb.out"; dpkg -P $packages; fail "maltor from the package"; }
say "dpkg -i: /usr/bin/maltor --sim devices runs ($(grep -c . "$scratch/deb.out") lines)"
# shellcheck disable=SC2086
dpkg -P $packages >/dev/null
left=$(for path in $owned; do if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi; done)
[ -z "$left" ] || fail "files left after removal: $(echo $left)"
say "dpkg -P: $(echo $packages) removed, no file left behind"

# ---- Windows zip -----------------------------------------------------------------
(cd "$build_win" && cpack -G ZIP >"$scratch/cpack-zip.log" 2>&1) || { cat "$scratch/cpack-zip.log"; fail "cpack ZIP"; }
zip=$(ls "$build_win"/packages/*.zip)
listing=$(unzip -Z1 "$zip")
for entry in bin/MaltorUSBdrv.dll bin/MaltorUSBdrv_sim.dll bin/maltor.exe include/MaltorUSBdrv.h \
             include/MaltorUSBdrv_sim.h lib/MaltorUSBdrv.def lib/MaltorUSBdrv_sim.def \
             lib/MaltorUSBdrv.lib lib/MaltorUSBdrv_sim.lib lib/libMaltorUSBdrv.dll.a \
             lib/libMaltorUSBdrv_sim.dll.a README.md LICENSE; do
  grep -q "/$entry\$" <<<"$listing" || fail "$(basename "$zip") lacks $entry"
done
say "$(basename "$zip"): $(stat -c %s "$zip") bytes, $(grep -vc '/$' <<<"$listing") files"
# The unpacked zip's tool finds its DLL beside it, under wine.
unzip -q "$zip" -d "$scratch/zip"
WINEDEBUG=-all WINEPREFIX=$(sed -n 's/^MALTOR_WINEPREFIX:PATH=//p' "$build_win/CMakeCache.txt") \
  /usr/lib/wine/wine64 "$(ls "$scratch"/zip/*/bin/maltor.exe)" --sim devices >"$scratch/wine.out" 2>&1 ||
  { cat "$scratch/wine.out"; fail "maltor.exe from the zip under wine"; }
say "maltor.exe --sim devices from the unpacked zip runs under wine"
