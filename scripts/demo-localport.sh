#!/usr/bin/env bash
# The local-port part of the demo (called by demo.sh with the Wine prefix
# up): a serial round trip on a pseudo-terminal pair, COM25 of the prefix
# for orvctl and its other end played here as the printer, with the
# library's trace file switched on; then the USB printer list.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
bin=${ORV_DIST:-$root/dist}/${ORV_DEMO_BUILD:-win32}  # orvctl.exe beside orvcomms.dll, the shipped 32-bit files where they run
work=$build/demo/localport
pair=25:26
printer=$build/serial/com26

"$here/serial-env.sh" start $pair
trap '"$here/serial-env.sh" stop $pair' EXIT
rm -rf "$work"
mkdir -p "$work/Log"

orvctl() { (cd "$work" && "$here/wine-run" "$bin/orvctl.exe" "$@" | tr -d '\r'); }
step() { printf '\n== %s\n' "$*"; }

step "orvctl com COM25 settings --baud 9600"
orvctl com COM25 settings --baud 9600

job=$root/tools/demo/sample-job.txt
step "orvctl com COM25 write $(basename "$job"), the printer side reading"
timeout 3 cat "$printer" >"$work/received.bin" &
reader=$!
sleep 0.2
orvctl com COM25 write "Z:${job//\//\\}"
wait "$reader" || true
if cmp -s "$job" "$work/received.bin"; then
  echo "the printer side got $(stat -c %s "$work/received.bin") bytes, identical to the job"
else
  echo "the printer side got different bytes"; exit 1
fi

step "the printer answers; orvctl com COM25 read --size 64 --timeout 1000"
(sleep 0.3; printf 'STATUS:READY   \n' >"$printer") &
orvctl com COM25 read --size 64 --timeout 1000 || true
wait

step "the trace of that read (Log\\orvcomms.log exists in orvctl's folder)"
touch "$work/Log/orvcomms.log"
(sleep 0.3; printf 'OK\n' >"$printer") &
orvctl com COM25 read --size 3 --timeout 1000 >/dev/null || true
wait
tr -d '\r' <"$work/Log/orvcomms.log" | head -n 40
echo "... ($(wc -l <"$work/Log/orvcomms.log") lines)"

step "orvctl usb list (Wine has no USB printers)"
orvctl usb list
