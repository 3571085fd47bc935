#!/usr/bin/env bash
# Demo steps of the status channel and the reachability checks: two
# simulated printers on loopback addresses, one answering its command
# port and one that stays silent, and orvctl asking them. Called by
# scripts/demo.sh once the Wine prefix is up; runs on its own as well
# (it then starts the prefix, and leaves it running).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
bin=${ORV_DIST:-$root/dist}/${ORV_DEMO_BUILD:-win32}  # orvctl.exe beside orvcomms.dll, the shipped 32-bit files where they run
sim=$build/host/bin/printer-sim
printer=127.0.0.3 silent=127.0.0.4
work=$build/demo
mkdir -p "$work"

[ -n "${ORV_DEMO_WINE_UP:-}" ] || "$here/wine-env.sh" start
sim_pids=()
cleanup() {
  local pid
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  return 0
}
trap cleanup EXIT

orvctl() { "$here/wine-run" "$bin/orvctl.exe" "$@" | tr -d '\r'; }
step() { printf '\n== %s\n' "$*"; }

start_printer() {  # ADDRESS LOG OPTIONS...
  local address=$1 log=$2
  shift 2
  "$sim" "$address" "$@" >"$log" 2>&1 &
  sim_pids+=($!)
  for _ in $(seq 50); do grep -q "^printer on" "$log" 2>/dev/null && break; sleep 0.1; done
  cat "$log"
}

# "STATUS:" then four status bytes (binary, as a printer may send them)
# and a line feed.
status_hex=5354415455533a0000200a
step "simulated printers: $printer answers port 9200, $silent takes the connection and stays silent"
start_printer "$printer" "$work/status-printer.log" status_reply=$status_hex \
  "device_id=MFG:ORV;CMD:ESC/P,PRPXL24;MDL:orv2200N;CLS:PRINTER;DES:ORV_orv2200N;"
start_printer "$silent" "$work/silent-printer.log" command_silent=on

step "orvctl status $printer: GET_RQSENSEDT on port 9200, the reply as it came"
orvctl status "$printer"

step "orvctl id $printer: GET_DEVICE_ID, with the IEEE 1284 fields"
orvctl id "$printer"

step "orvctl status $silent with TIME 1: no reply within one second"
orvctl config TIME 1
orvctl status "$silent" || true
orvctl config TIME 0

step "orvctl ping $printer: one ICMP echo through ICMP.DLL"
orvctl ping "$printer"

step "orvctl ping --tcp $printer: nothing listens on port 80, and a refusal is an answer"
orvctl ping --tcp "$printer"

step "orvctl status 127.0.0.5: an address where nothing listens on port 9200 fails at once"
orvctl status 127.0.0.5 || true

step "the printers' logs"
cleanup; sim_pids=()
cat "$work/status-printer.log" "$work/silent-printer.log"
