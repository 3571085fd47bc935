#!/usr/bin/env bash
# The demo: a simulated printer on a loopback address, and the
# command-line client driving orvcomms.dll under Wine against it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
source "$here/prefix-lock.sh"
orv_hold_prefix demo bash "$0" "$@"
# The shipped 32-bit files, or the 64-bit ones where this machine cannot
# run 32-bit programs (32-bit Wine's loader does not start); the other
# demo scripts follow ORV_DEMO_BUILD.
export ORV_DEMO_BUILD=${ORV_DEMO_BUILD:-win32}
if [ "$ORV_DEMO_BUILD" = win32 ] && ! (source "$here/wine-common.sh" && orv_runs_32bit); then
  ORV_DEMO_BUILD=win64
  echo "demo: this machine cannot run 32-bit programs, so the demo runs the 64-bit files instead"
fi
bin=${ORV_DIST:-$root/dist}/$ORV_DEMO_BUILD  # orvctl.exe beside orvcomms.dll, the shipped 32-bit files where they run
sim=$build/host/bin/printer-sim
printer=127.0.0.2
work=$build/demo
mkdir -p "$work"
rm -f "$work/received.bin" "$work/printer.log"

"$here/wine-env.sh" start
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  "$here/wine-env.sh" stop
}
trap cleanup EXIT

orvctl() { "$here/wine-run" "$bin/orvctl.exe" "$@" | tr -d '\r'; }
step() { printf '\n== %s\n' "$*"; }

step "orvctl info: load orvcomms.dll, OvStartup, configuration, OvCleanup"
orvctl info

step "a simulated printer on $printer (ports 9100 and 9200)"
"$sim" "$printer" store="$work/received.bin" greeting=1b40 >"$work/printer.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do grep -q "^printer on" "$work/printer.log" 2>/dev/null && break; sleep 0.1; done
cat "$work/printer.log"

job=$root/tools/demo/sample-job.txt
step "orvctl print $printer $(basename "$job")"
orvctl print "$printer" "Z:${job//\//\\}"

step "what the printer received"
sleep 0.3
if cmp -s "$job" "$work/received.bin"; then
  echo "the simulator stored $(stat -c %s "$work/received.bin") bytes, identical to the job"
else
  echo "the stored data differs from the job"; exit 1
fi

big=$work/big-job.bin
head -c $((48 << 20)) /dev/urandom >"$big"
step "orvctl print $printer big-job.bin (48 MiB, with progress lines)"
orvctl print "$printer" "Z:${big//\//\\}"

step "orvctl cancel $printer"
orvctl cancel "$printer"
sleep 0.3

ORV_DEMO_WINE_UP=1 "$here/demo-status.sh"
"$here/demo-discovery.sh"

step "the printer's log"
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=
cat "$work/printer.log"

"$here/demo-localport.sh"
"$here/demo-monitor.sh"
