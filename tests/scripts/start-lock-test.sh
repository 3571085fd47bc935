#!/usr/bin/env bash
# Starting a prefix under a caller's lock, as docs/building.md shows
# (flock /tmp/orv-test.lock scripts/wine-env.sh start ...), leaves the
# lock free once the start has returned, although the wineserver and the
# prefix's services run on: they must not keep the caller's descriptor.
# A new prefix of its own: about a quarter of a minute.
#   usage: start-lock-test.sh WORK_DIR
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$1
prefix=$work/wine
lock=$work/caller.lock
rm -rf "$work"
mkdir -p "$work"
trap 'ORV_WINEPREFIX="$prefix" "$root/scripts/wine-env.sh" stop; rm -rf "$work"' EXIT

exec 9>"$lock"
flock 9
ORV_WINEPREFIX="$prefix" "$root/scripts/wine-env.sh" start || { echo "FAIL: the prefix did not start"; exit 1; }
exec 9>&-
if ! flock -n "$lock" true; then
  echo "FAIL: the caller's lock is still held after the start returned, by:"
  for fd in /proc/[0-9]*/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$lock" ] && fd=${fd#/proc/} && ps -o pid=,args= -p "${fd%%/*}"
  done
  exit 1
fi
echo "the caller's lock is free while the prefix runs"
