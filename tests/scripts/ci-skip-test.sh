#!/usr/bin/env bash
# In CI (CI set) or with ORV_REQUIRE_WIN32=1, a run whose 32-bit probe
# fails does not skip the shipped build's suite quietly: it says why,
# fails, and its last line shows the suite as skipped. The probe is
# replaced (ORV_PROBE_32BIT=false); 32-bit Wine on the machine is left
# alone.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check_run() {  # NAME ENV...
  local name=$1 output status last
  shift
  output=$(env -u CI -u ORV_REQUIRE_WIN32 "$@" ORV_PROBE_32BIT=false ORV_SUITES=win32 \
    ORV_BUILD="$work/build" ORV_WINEPREFIX="$work/wine" "$root/scripts/run-tests.sh" 2>&1)
  status=$?
  last=$(tail -n 1 <<<"$output")
  echo "--- $name: exit $status"
  echo "$output"
  if [ "$status" -eq 0 ]; then
    echo "FAIL ($name): the run passed with the win32 suite skipped"; failures=$((failures + 1))
  fi
  if ! grep -q "win32 suite was skipped.*ORV_PROBE_32BIT='false' failed" <<<"$output"; then
    echo "FAIL ($name): no message naming the skip and its cause"; failures=$((failures + 1))
  fi
  if [ "$last" != "run-tests: win32 skipped" ]; then
    echo "FAIL ($name): the last line is '$last'"; failures=$((failures + 1))
  fi
}

check_run "CI=true" CI=true
check_run "ORV_REQUIRE_WIN32=1" ORV_REQUIRE_WIN32=1
exit $((failures > 0))
