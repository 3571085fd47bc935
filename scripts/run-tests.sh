#!/usr/bin/env bash
# Runs every test: the win64 suite under Wine, the binary checks of both
# Windows builds and the host tests. Exits non-zero when any test fails.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
jobs=${ORV_TEST_JOBS:-2}

"$here/wine-env.sh" start || exit 1
trap '"$here/wine-env.sh" stop' EXIT

status=0
for tree in win64 win32 host; do
  echo "=== tests: $tree"
  ctest --test-dir "$build/$tree" -j "$jobs" --output-on-failure --timeout 300 || status=1
done
exit $status
