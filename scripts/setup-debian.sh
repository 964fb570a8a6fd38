#!/usr/bin/env bash
# Installs what building and testing MaltorUSBdrv needs on Debian, skipping
# packages that are already there. Needs root (or sudo) for apt-get.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libusb-1.0-0-dev umockdev libumockdev-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine64 googletest
  python3-venv python3-setuptools python3-pytest python3-can
  locales
  clang dpkg-dev file unzip
  tshark
  libclang-rt-14-dev
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "Installing: ${missing[*]}"
# tshark's package asks whether non-root users may capture; they need not.
echo "wireshark-common wireshark-common/install-setuid boolean false" |
  "${sudo_cmd[@]}" debconf-set-selections
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
