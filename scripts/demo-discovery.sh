#!/usr/bin/env bash
# Demo steps of device discovery: a simulated printer that answers the
# UDP search on 127.0.0.3:19541, found by orvctl's broadcast and unicast
# searches, then given another address by "set" and found again with it.
# Everything stays on loopback; the Wine prefix must be up (demo.sh).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
bin=${ORV_DIST:-$root/dist}/${ORV_DEMO_BUILD:-win32}  # orvctl.exe beside orvcomms.dll, the shipped 32-bit files where they run
sim=$build/host/bin/printer-sim
printer=127.0.0.3 mac=FE:FF:FF:FF:00:01 new_address=127.0.0.30
work=$build/demo
mkdir -p "$work"
log=$work/discovery-printer.log

"$here/wine-env.sh" start
sim_pid=
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  sim_pid=
}
trap stop_sim EXIT

orvctl() { "$here/wine-run" "$bin/orvctl.exe" "$@" | tr -d '\r'; }
step() { printf '\n== %s\n' "$*"; }

step "a simulated printer with MAC $mac answering the UDP search on $printer:19541"
"$sim" "$printer" print=off command=off udp=own mac=$mac >"$log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do grep -q "^printer on" "$log" 2>/dev/null && break; sleep 0.1; done
cat "$log"

step "orvctl search udp --to $printer --seconds 1 (GETA, listening 1 s)"
orvctl search udp --to "$printer" --seconds 1

step "orvctl set $mac $new_address --to $printer (SETA)"
orvctl set "$mac" "$new_address" --to "$printer"

step "orvctl search udp --unicast $printer (the printer now reports $new_address)"
orvctl search udp --unicast "$printer"

step "orvctl set 00:11 $new_address --to $printer (not a MAC: refused, nothing sent)"
orvctl set 00:11 "$new_address" --to "$printer" || true

step "the printer's log"
stop_sim
cat "$log"
