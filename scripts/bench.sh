#!/usr/bin/env bash
# Benchmarks: each prints figures and asserts nothing. Runs in the test
# run's Wine prefix and with the printer simulator (both started here and
# stopped at the end).
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
source "$here/wine-common.sh"

"$here/wine-env.sh" start || exit 1
"$here/sim-env.sh" start || exit 1
trap '"$here/sim-env.sh" stop; "$here/wine-env.sh" stop' EXIT

echo "=== local ports: serial pair and named pipe"
"$here/serial-env.sh" start >/dev/null
"$here/wine-run" "$build/win64/bin/localport_bench.exe" | tr -d '\r'
"$here/serial-env.sh" stop

echo "=== print channel: OvWritePort against a fast printer"
"$here/wine-run" "$build/win64/bin/netport_bench.exe" | tr -d '\r'

echo "=== status channel: OvGetStatus beside a plain exchange"
"$here/wine-run" "$build/win64/bin/status_bench.exe" | tr -d '\r'

# The wineserver of this prefix: under Wine it does the registry's work,
# so the poll benchmark reports its CPU time too.
server_pid=
for pid in $(pgrep wineserver); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
    server_pid=$pid
  fi
done

echo "=== status monitor: PollRecord against Wine's registry"
"$here/wine-run" "$build/win64/bin/monitor_poll_bench.exe" --polls 1000 --tag "orv-bench-$$" \
  ${server_pid:+--server-pid $server_pid}
"$here/wine-run" "$build/win64/bin/monitor_poll_count.exe"

echo "=== status monitor: orvstsn.exe idle for ${ORV_IDLE_SECONDS:-60} s"
"$here/wine-run" "$build/win64/bin/monitor_idle_bench.exe" --seconds "${ORV_IDLE_SECONDS:-60}" \
  ${server_pid:+--server-pid $server_pid} | tr -d '\r'
"$here/bench-discovery.sh"
