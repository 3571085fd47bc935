#!/usr/bin/env bash
# The demo: the command-line client loads orvcomms.dll under Wine, starts
# it, shows the configuration it would use and cleans up.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
bin=${ORV_BUILD:-$root/build}/win64/bin

"$here/wine-env.sh" start
trap '"$here/wine-env.sh" stop' EXIT

orvctl() { "$here/wine-run" "$bin/orvctl.exe" "$@" | tr -d '\r'; }

echo "== orvctl info: load orvcomms.dll, OvStartup, configuration, OvCleanup"
orvctl info
