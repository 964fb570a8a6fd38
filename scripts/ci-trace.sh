#!/usr/bin/env bash
# The USB trace against Wireshark's own reading of it: a maltor --sim session
# (identity, catalogue, a small download, CAN send and receive, a logger
# update) is traced, and tshark with the dissector must decode every command
# pipe frame (command name, sequence number, checksum verdict) exactly as the
# virtual device's record of the wire says; a reply whose checksum the
# virtual device corrupted must be flagged; the same short session recorded
# through the libusb backend and an umockdev-emulated device must decode as
# it does through the virtual device. Prints one summary line.
# Usage: scripts/ci-trace.sh BUILD_DIR (built already)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
maltor=$build/tools/maltor/maltor
dissector=tools/wireshark/maltor.lua
work=$build/ci-trace
rm -rf "$work" && mkdir -p "$work"

decode() {  # decode TRACE: command, sequence and checksum verdict per command pipe frame
  tshark -X lua_script:"$dissector" -r "$1" \
    -Y 'maltor && (usb.endpoint_address == 0x02 || usb.endpoint_address == 0x82)' \
    -T fields -e maltor.command -e maltor.seq -e maltor.checksum.status 2>/dev/null
}

# A 1 KiB logger image: 18 data frames.
head -c 1024 /dev/zero | tr '\0' '\132' >"$work/fw.bin"
"$maltor" --sim --trace "$work/session.pcapng" \
  info ';' logs ';' download 0 3 "$work/sectors.bin" ';' \
  can send 0 123#DEADBEEF ';' can dump 0 --count 1 ';' \
  update logger "$work/fw.bin" --log "$work/update.log" ';' \
  trace wire "$work/wire.txt" >"$work/session.log" 2>&1 ||
  { cat "$work/session.log"; exit 1; }
decode "$work/session.pcapng" >"$work/tshark.txt"
if ! diff -u "$work/wire.txt" "$work/tshark.txt" >"$work/diff.txt"; then
  echo "[trace] tshark's decoding differs from the virtual device's wire record:"
  head -n 40 "$work/diff.txt"
  exit 1
fi
frames=$(wc -l <"$work/wire.txt")

# A gateway update of a kind-1 device (frames with the lead-in).
"$maltor" --sim --trace "$work/gateway.pcapng" update gateway "$work/fw.bin" --log "$work/gw.log" ';' \
  trace wire "$work/gateway-wire.txt" >"$work/gateway.log" 2>&1 || { cat "$work/gateway.log"; exit 1; }
decode "$work/gateway.pcapng" >"$work/gateway-tshark.txt"
grep -q '^gateway firmware block		good$' "$work/gateway-tshark.txt" &&
  diff -u "$work/gateway-wire.txt" "$work/gateway-tshark.txt" ||
  { echo "[trace] the gateway update decodes differently"; exit 1; }
frames=$((frames + $(wc -l <"$work/gateway-wire.txt")))
for name in SCGetSerialNumber SCSDLogInfo SCSDRequestSendData CANTx CANRx "logger data"; do
  grep -q "^$name	" "$work/tshark.txt" || { echo "[trace] no $name frame decoded"; exit 1; }
done
"$maltor" trace summary "$work/session.pcapng" >"$work/summary.txt"

# One reply with a corrupted checksum, between two good exchanges.
"$build/tests/trace/maltor_trace_sample" bad-checksum "$work/bad.pcapng"
decode "$work/bad.pcapng" >"$work/bad.txt"
bad=$(grep -c 'bad$' "$work/bad.txt" || true)
if [ "$bad" != 1 ] || ! grep -q '^GetMaltorInfo	1	bad$' "$work/bad.txt"; then
  echo "[trace] the corrupted checksum was not flagged (exactly once):"
  cat "$work/bad.txt"
  exit 1
fi
# One session through the virtual device and through libusb with umockdev.
"$build/tests/trace/maltor_trace_sample" session "$work/sim.pcapng"
MALTOR_TRACE_SAMPLE="$work/libusb.pcapng" LD_PRELOAD=libumockdev-preload.so.0 \
  "$build/tests/libusb/maltor_libusb_tests" --gtest_filter='*TracesASession*' >"$work/libusb.log" 2>&1 ||
  { cat "$work/libusb.log"; exit 1; }
decode "$work/sim.pcapng" >"$work/sim.txt"
decode "$work/libusb.pcapng" >"$work/libusb.txt"
if [ ! -s "$work/sim.txt" ] || ! diff -u "$work/sim.txt" "$work/libusb.txt"; then
  echo "[trace] the libusb trace decodes differently from the virtual device's"
  exit 1
fi
echo "[trace] tshark decoded $frames command pipe frames as the virtual device recorded them," \
  "the libusb trace as the virtual device's ($(wc -l <"$work/sim.txt") frames); corrupted checksum flagged"
