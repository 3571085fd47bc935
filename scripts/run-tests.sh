#!/usr/bin/env bash
# Runs every test: the win64 and win32 suites under Wine (each with its
# binary checks) and the host tests. Exits non-zero when any test fails.
# Where this machine cannot run 32-bit programs (see scripts/setup.sh),
# the win32 suite is reduced to its binary checks, with a message, and
# that alone does not fail the run.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
jobs=${ORV_TEST_JOBS:-2}

trap '"$here/wine-env.sh" stop' EXIT
prefix_log=$(dirname "${ORV_WINEPREFIX:-$root/build/wine}")/wine-prefix.log
server_crashes() { local n; n=$(grep -a -c "wineserver crashed" "$prefix_log" 2>/dev/null); echo "${n:-0}"; }
crashes_before=$(server_crashes)

status=0
skipped=
for tree in win64 win32 host; do
  what=
  if [ "$tree" != host ]; then
    # Each Windows suite starts on a wineserver of its own. Should one
    # crash, Wine starts another from the next test, which then holds that
    # test's output (the test seems to hang until its time-out), and the
    # prefix's services stay with the dead one: the damage ends here.
    "$here/wine-env.sh" stop
    "$here/wine-env.sh" start || { status=1; continue; }
  fi
  if [ "$tree" = win32 ]; then
    # ctest lists each test program's cases by running it, so a tree whose
    # programs cannot run here must not register them (ORV_RUN_TESTS). The
    # probe is 32-bit Wine's loader itself; the tree follows its answer,
    # and is built again when the tests come back.
    run=ON
    if ! (source "$here/wine-common.sh" && orv_runs_32bit); then
      run=OFF
      what=", binary checks only"
      skipped="run-tests: the win32 suite was skipped because this machine cannot run 32-bit programs (see scripts/setup.sh); only its binary checks ran"
    fi
    if ! grep -qx "ORV_RUN_TESTS:BOOL=$run" "$build/win32/CMakeCache.txt"; then
      { cmake -DORV_RUN_TESTS=$run "$build/win32" >/dev/null &&
        cmake --build "$build/win32" -j "$jobs" >/dev/null; } || { status=1; continue; }
    fi
  fi
  echo "=== tests: $tree$what"
  ctest --test-dir "$build/$tree" -j "$jobs" --output-on-failure --timeout 300 || status=1
done
[ -z "$skipped" ] || echo "$skipped"
if [ "$(server_crashes)" -gt "$crashes_before" ]; then
  echo "run-tests: a wineserver crashed during this run (see $prefix_log); tests of that suite may have failed for that alone"
fi
exit $status
