#!/usr/bin/env bash
# The benchmarks: programs that print figures (they pass or fail nothing).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
bin=${ORV_BUILD:-$root/build}/win64/bin

"$here/wine-env.sh" start
"$here/sim-env.sh" start
trap '"$here/sim-env.sh" stop; "$here/wine-env.sh" stop' EXIT

echo "== print channel"
"$here/wine-run" "$bin/netport_bench.exe" | tr -d '\r'
