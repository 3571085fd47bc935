#!/usr/bin/env bash
# A kept prefix that lacks a registration is not used: scripts/wine-env.sh
# names what is missing and makes the prefix anew, and when the new one
# comes out incomplete twice, it stops with a message naming what is
# missing and leaves no prefix behind.
#
# The kept prefix is the test run's own registry (build/wine/system.reg)
# with the x86 print processor's key removed; the new ones lack their
# print processors because wineboot runs with winprint left out
# (ORV_WINEBOOT_OVERRIDES). Two runs of wineboot: about half a minute.
#   usage: prefix-check-test.sh WORK_DIR
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source_prefix=${ORV_WINEPREFIX:-$root/build/wine}
work=$1
prefix=$work/wine
if [ ! -f "$source_prefix/system.reg" ]; then
  echo "no test prefix at $source_prefix to copy the registry from: run scripts/wine-env.sh start first"
  exit 77
fi
rm -rf "$work"
mkdir -p "$prefix/drive_c/windows/syswow64"
trap 'ORV_WINEPREFIX="$prefix" "$root/scripts/wine-env.sh" stop; rm -rf "$work"' EXIT

# As system.reg names it, with doubled backslashes.
export x86_key='System\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Print Processors\\winprint'
# Every section of the key and its subkeys, up to the next section.
awk 'index($0, "[") == 1 { skip = index($0, "[" ENVIRON["x86_key"]) == 1 } !skip' \
  "$source_prefix/system.reg" >"$prefix/system.reg"
cp "$source_prefix/user.reg" "$prefix/" 2>/dev/null
cp "$source_prefix/drive_c/windows/syswow64/kernel32.dll" "$prefix/drive_c/windows/syswow64/" 2>/dev/null
touch "$prefix/.orv-ready"
if grep -qF "[$x86_key" "$prefix/system.reg"; then
  echo "FAIL: the key is still in the copied registry"
  exit 1
fi

output=$(ORV_WINEPREFIX="$prefix" ORV_WINEBOOT_OVERRIDES=winprint=d "$root/scripts/wine-env.sh" start 2>&1)
status=$?
echo "$output"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ "$status" -ne 0 ] || fail "start went on with an incomplete prefix"
grep -q 'lacks' <<<"$(head -n 2 <<<"$output")" || fail "the kept prefix was not named as incomplete before it was made anew"
# Named three times: in the kept prefix, then in each new one.
n=$(grep -c 'Windows NT x86\\Print Processors\\winprint$' <<<"$output")
[ "$n" -eq 3 ] || fail "the missing x86 print processor was named $n times, not 3"
grep -q 'Windows x64\\Print Processors\\winprint$' <<<"$output" || fail "the missing x64 print processor was not named"
grep -q 'incomplete twice and was removed' <<<"$output" || fail "no final message"
[ ! -e "$prefix" ] || fail "an incomplete prefix was left at $prefix"
exit $((failures > 0))
