#!/usr/bin/env bash
# The maltor tool from the shell, as scripts use it, against the virtual
# device: every command's --json output is valid JSON (failures too), progress
# never reaches a redirected stdout, a `can dump --log` file reads back through
# python-can with the frames that were sent, SIGTERM and SIGHUP stop cleanly,
# and a download into a full device fails.
# Usage: scripts/ci-tool.sh [build dir] (default build). Prints one summary
# line; the failed checks, if any, before it.
set -uo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
maltor=("$build/tools/maltor/maltor" --sim --lib "$build/src/libMaltorUSBdrv_sim.so")
python=/usr/bin/python3 # Debian's, which has python3-can
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
started=$(date +%s)
checks=0
failed=0

fail() {
  echo "[tool] FAILED: $*"
  failed=$((failed + 1))
}

# json_ok FILE: one JSON document, or JSON Lines (one document a line).
json_ok() {
  [ -s "$1" ] || return 1
  "$python" -m json.tool "$1" >/dev/null 2>&1 && return 0
  local line
  while IFS= read -r line; do
    printf '%s' "$line" | "$python" -m json.tool >/dev/null 2>&1 || return 1
  done <"$1"
}

# expect_json CODE ARGS...: maltor --json ARGS exits CODE with valid JSON on stdout.
expect_json() {
  local code=$1
  shift
  checks=$((checks + 1))
  local got=0
  "${maltor[@]}" --json "$@" >"$tmp/out.json" 2>"$tmp/err.txt" </dev/null || got=$?
  if [ "$got" -ne "$code" ]; then
    fail "maltor --json $* exited $got, not $code: $(head -c 300 "$tmp/err.txt" "$tmp/out.json")"
  elif ! json_ok "$tmp/out.json"; then
    fail "maltor --json $*: not JSON: $(head -c 300 "$tmp/out.json")"
  fi
  covered+=" $1 "
}

head -c 300000 /dev/urandom >"$tmp/image.bin"
head -c 6000 /dev/urandom >"$tmp/fw.bin"
head -c 1000 /dev/urandom >"$tmp/config.bin"

covered=" "
expect_json 0 devices
expect_json 0 status --raw
expect_json 0 info
expect_json 0 clock
expect_json 0 clock set --now
expect_json 0 settings
expect_json 0 settings set 1 5
expect_json 0 logs --partitions 2
expect_json 0 format --yes
expect_json 0 download 0 15 "$tmp/d.bin"
expect_json 0 live --count 2
expect_json 0 live --count 2 --out "$tmp/live.bin"
expect_json 0 can buses
expect_json 0 can open 0
expect_json 0 can setup 0 --bitrate 500000 --tseg1 13 --tseg2 2
expect_json 0 can send 0 7E0#DEADBEEF ';' can dump 0 --count 1
expect_json 0 update logger "$tmp/fw.bin" --log "$tmp/update.log"
expect_json 0 reflash "$tmp/image.bin"
expect_json 0 gateway-config "$tmp/config.bin"
expect_json 0 config send "$tmp/config.bin" ';' config get "$tmp/config-back.bin"
expect_json 0 doctor
expect_json 0 --trace "$tmp/t.pcapng" info
expect_json 0 trace summary "$tmp/t.pcapng"
expect_json 0 --version
# Failures: usage, no device, a refusal by the device, a file that is no image.
expect_json 2 download 5 4 "$tmp/x.bin"
expect_json 1 --sim-devices 0 info
expect_json 1 logfile 70 100 "$tmp/log.txt"
expect_json 1 firmware-version "$tmp/config.bin"
# Every command the tool has was run above.
for command in $("${maltor[@]}" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && NF { print $1 }'); do
  checks=$((checks + 1))
  case "$covered" in *" $command "*) ;; *) fail "no --json check runs '$command'" ;; esac
done

# Commands from standard input.
checks=$((checks + 1))
printf 'status\nclock\n' | "${maltor[@]}" --json --script - >"$tmp/script.json" 2>/dev/null &&
  json_ok "$tmp/script.json" && [ "$(wc -l <"$tmp/script.json")" -eq 2 ] ||
  fail "--script - did not run two commands from stdin"

# A progress bar goes to stderr, never to a redirected stdout.
checks=$((checks + 1))
"${maltor[@]}" download 0 2047 "$tmp/d.bin" >"$tmp/out.txt" 2>"$tmp/err.txt"
if grep -q '%' "$tmp/out.txt" || ! grep -q 'download 100%' "$tmp/err.txt"; then
  fail "download's progress: stdout '$(cat "$tmp/out.txt")', stderr '$(tr '\r' '\n' <"$tmp/err.txt" | tail -n 2)'"
fi
checks=$((checks + 1))
"${maltor[@]}" --quiet download 0 2047 "$tmp/d.bin" >/dev/null 2>"$tmp/err.txt"
[ -s "$tmp/err.txt" ] && fail "--quiet still wrote: $(cat "$tmp/err.txt")"

# can dump --log: python-can reads back what was sent (the library sends every
# frame as 7E0), classic and CAN FD lengths alike.
checks=$((checks + 1))
"${maltor[@]}" can send 0 7E0# ';' can send 0 7E0#DEADBEEF ';' \
  can send 0 7E0#00112233445566778899AABB ';' \
  can dump 0 --count 3 --log "$tmp/can.log" >/dev/null 2>&1 || fail "can dump --log failed"
"$python" - "$tmp/can.log" <<'EOF' || fail "python-can read back $(cat "$tmp/can.log")"
import sys
import can

sent = [b"", bytes.fromhex("DEADBEEF"), bytes.fromhex("00112233445566778899AABB")]
frames = list(can.LogReader(sys.argv[1]))
assert [bytes(f.data) for f in frames] == sent, frames
assert all(f.arbitration_id == 0x7E0 and not f.is_extended_id for f in frames), frames
assert all(f.channel == "can0" for f in frames), frames
assert [f.is_fd for f in frames] == [False, False, True], frames
EOF
# A filter that no frame passes: the dump ends at its idle timeout, empty.
checks=$((checks + 1))
"${maltor[@]}" can send 0 7E0#01 ';' can dump 0 -f 100:7FF --idle 300 --log "$tmp/none.log" \
  >/dev/null 2>&1 && [ ! -s "$tmp/none.log" ] || fail "can dump -f 100:7FF let a 7E0 frame through"

# SIGTERM and SIGHUP stop live data cleanly, with the shells' exit codes.
for pair in TERM:143 HUP:129; do
  checks=$((checks + 1))
  signal=${pair%:*}
  "${maltor[@]}" live >/dev/null 2>"$tmp/live-err.txt" &
  pid=$!
  sleep 1
  kill -s "$signal" "$pid"
  code=0
  wait "$pid" || code=$?
  [ "$code" -eq "${pair#*:}" ] && grep -q 'stopping live data' "$tmp/live-err.txt" ||
    fail "SIG$signal during live: exit $code, stderr $(cat "$tmp/live-err.txt")"
done

# A download into a full device fails. Root uses a node of its own, so that a
# fault could never remove the system's /dev/full (containers may lack it).
full=/dev/full
mknod "$tmp/full" c 1 7 2>/dev/null && full=$tmp/full
if [ -c "$full" ]; then
  checks=$((checks + 1))
  code=0
  "${maltor[@]}" download 0 2047 "$full" >/dev/null 2>"$tmp/err.txt" || code=$?
  [ "$code" -eq 1 ] || fail "download into $full exited $code: $(tr '\r' '\n' <"$tmp/err.txt")"
else
  echo "[tool] no /dev/full here and none can be made: its check is skipped"
fi

# The bash completion offers commands and a command's options from the help.
checks=$((checks + 1))
completions=$(bash -c '
  source tools/maltor/maltor.bash-completion
  complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _maltor; echo "${COMPREPLY[*]}"; }
  complete_words "$1" --sim do
  complete_words "$1" can dump 0 --l' _ "${maltor[0]}")
[ "$completions" = $'download doctor\n--log' ] || fail "bash completion gave: $completions"
# The man page has a section for every command.
checks=$((checks + 1))
man_page=$build/tools/maltor/maltor.1
[ "$(grep -c '^\.SS ' "$man_page")" -eq "$("${maltor[@]}" --help | sed -n '/^Commands:/,/^$/p' | awk 'NR > 1 && NF' | wc -l)" ] ||
  fail "$man_page lacks a command"

seconds=$(($(date +%s) - started))
if [ "$failed" -ne 0 ]; then
  echo "[tool] $failed of $checks shell checks failed (${seconds}s)"
  exit 1
fi
echo "[tool] $checks shell checks passed: JSON from every command, progress on stderr, candump log read by python-can, SIGTERM/SIGHUP (${seconds}s)"
