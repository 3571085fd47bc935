#!/usr/bin/env bash
# Runs every test: the win64 and win32 suites under Wine (each with its
# binary checks) and the host tests. Exits non-zero when any test fails.
# Where this machine cannot run 32-bit programs (see scripts/setup.sh),
# the win32 suite is reduced to its binary checks, with a message.
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
  only=()
  if [ "$tree" = win32 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "run-tests: this machine cannot run 32-bit programs; only the win32 binary checks run"
    only=(-R '^binary\.' -E '_runs$')
  fi
  ctest --test-dir "$build/$tree" -j "$jobs" --output-on-failure --timeout 300 "${only[@]}" || status=1
done
exit $status
