#!/usr/bin/env bash
# Runs every test: the win64 and win32 suites under Wine (each with its
# binary checks) and the host tests. Exits non-zero when any test fails.
# The last line says how many tests each suite ran.
#
# Where this machine cannot run 32-bit programs (see scripts/setup.sh),
# the win32 suite is reduced to its binary checks, with a message naming
# the cause. Locally that alone does not fail the run; in CI (CI set, as
# CI runs .ci/run) or with ORV_REQUIRE_WIN32=1 it does, since the shipped
# build would go untested.
#   ORV_SUITES      the suites to run, in order (default "win64 win32 host")
#   ORV_PROBE_32BIT a command that replaces the 32-bit probe (for tests)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
jobs=${ORV_TEST_JOBS:-2}
suites=${ORV_SUITES:-win64 win32 host}
source "$here/prefix-lock.sh"
orv_hold_prefix run-tests bash "$0" "$@"
# The probe in a subshell: wine-common.sh sets the Japanese locale for
# Wine, which would also translate the output of the native tools that
# the binary checks read (objdump).
wine_common() { (source "$here/wine-common.sh" && "$@"); }

require_win32=
case "${CI:-}" in "" | 0 | false) ;; *) require_win32=1 ;; esac
[ "${ORV_REQUIRE_WIN32:-}" = 1 ] && require_win32=1

prefix_log=$(dirname "${ORV_WINEPREFIX:-$root/build/wine}")/wine-prefix.log
server_crashes() { local n; n=$(grep -a -c "wineserver crashed" "$prefix_log" 2>/dev/null); echo "${n:-0}"; }
crashes_before=$(server_crashes)
output=$(mktemp)
trap 'rm -f "$output"; "$here/wine-env.sh" stop' EXIT

# "win64 251 tests (0 failed)", from ctest's summary line.
suite_count() {
  local summary
  summary=$(grep -a -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$output" | tail -n 1)
  if [ -z "$summary" ]; then
    echo "$1 no summary (ctest did not finish)"
  else
    sed -E "s/^[0-9]+% tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/$1 \\2 tests (\\1 failed$2)/" <<<"$summary"
  fi
}

status=0
skipped=
counts=()
for tree in $suites; do
  what= note=
  if [ "$tree" = win32 ]; then
    # ctest lists each test program's cases by running it, so a tree whose
    # programs cannot run here must not register them (ORV_RUN_TESTS). The
    # probe is 32-bit Wine's loader itself; the tree follows its answer,
    # and is built again when the tests come back.
    run=ON
    if ! wine_common orv_runs_32bit; then
      skipped="run-tests: the win32 suite was skipped because this machine cannot run 32-bit programs: $(wine_common orv_32bit_cause) (see scripts/setup.sh and docs/building.md)"
      if [ -n "$require_win32" ]; then
        skipped+=$'\n'"run-tests: CI (or ORV_REQUIRE_WIN32=1) requires the shipped 32-bit build's suite: the run fails"
        counts+=("win32 skipped")
        status=1
        continue
      fi
      run=OFF
      what=", binary checks only"
      note=", binary checks only"
    fi
    if ! grep -qx "ORV_RUN_TESTS:BOOL=$run" "$build/win32/CMakeCache.txt" 2>/dev/null; then
      { cmake -DORV_RUN_TESTS=$run "$build/win32" >/dev/null &&
        cmake --build "$build/win32" -j "$jobs" >/dev/null; } || { status=1; counts+=("win32 not built"); continue; }
    fi
  fi
  if [ "$tree" != host ]; then
    # Each Windows suite starts on a wineserver of its own. Should one
    # crash, Wine starts another from the next test, which then holds that
    # test's output (the test seems to hang until its time-out), and the
    # prefix's services stay with the dead one: the damage ends here.
    "$here/wine-env.sh" stop
    "$here/wine-env.sh" start || { status=1; counts+=("$tree not run (no Wine prefix)"); continue; }
  fi
  echo "=== tests: $tree$what"
  ctest --test-dir "$build/$tree" -j "$jobs" --output-on-failure --timeout 300 | tee "$output" || status=1
  counts+=("$(suite_count "$tree" "$note")")
done
[ -z "$skipped" ] || echo "$skipped"
if [ "$(server_crashes)" -gt "$crashes_before" ]; then
  echo "run-tests: a wineserver crashed during this run (see $prefix_log); tests of that suite may have failed for that alone"
fi
summary=$(printf '%s, ' "${counts[@]}")
echo "run-tests: ${summary%, }"
exit $status
