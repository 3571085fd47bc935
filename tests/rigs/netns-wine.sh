#!/usr/bin/env bash
# Runs Windows programs under Wine inside a network namespace.
#
# Wine's server creates the sockets of a prefix's programs, and the
# prefix's background processes answer the interface and neighbour tables
# (GetIpAddrTable, GetIpNetTable); a program sees a namespace's network
# only when that prefix's wineserver and services started inside the
# namespace. So every namespace gets its own prefix, build/wine-ns/NS,
# made in a fraction of a second from the test prefix (build/wine, which
# must be up: scripts/wine-env.sh start): the program files, which Wine
# never writes, are hard links; everything else (registry, ini files) is
# copied.
#
#   netns-wine.sh start NS                 make NS's prefix, start its wineserver
#                                          and services inside NS
#   netns-wine.sh run NS PROGRAM [ARGS..]  run a Windows program inside NS (the
#                                          ctest emulator of namespace tests)
#   netns-wine.sh stop NS                  stop NS's wineserver, remove its prefix
#
# Without the namespace's prefix (no root, rig not built), `run` runs the
# program in the ordinary test prefix with ORV_NETNS_MISSING=NS in its
# environment, so that tests can skip. Test listings (--gtest_list_tests)
# always run in the ordinary prefix: ctest lists before any fixture runs.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/scripts/wine-common.sh"
template=$WINEPREFIX
build=${ORV_BUILD:-$root/build}
prefixes=$build/wine-ns

prefix_of() { echo "$prefixes/$1"; }
has_namespace() { [ -e "/run/netns/$1" ]; }

start() {
  local ns=$1 prefix log
  prefix=$(prefix_of "$ns")
  log=$prefix.log
  if ! has_namespace "$ns"; then
    echo "netns-wine: no network namespace $ns" >&2
    return 1
  fi
  if [ ! -f "$template/.orv-ready" ]; then
    echo "netns-wine: no test prefix at $template; run scripts/wine-env.sh start" >&2
    return 1
  fi
  stop "$ns"
  orv_copy_prefix "$template" "$prefix" || { echo "netns-wine: cannot copy $template" >&2; return 1; }
  # The background processes keep the first program's output open: a log.
  WINEPREFIX=$prefix ip netns exec "$ns" "$WINESERVER" -p >>"$log" 2>&1 </dev/null || true
  WINEPREFIX=$prefix ip netns exec "$ns" timeout -k 5 120 "$WINELOADER" cmd /c exit \
    >>"$log" 2>&1 </dev/null
  echo "netns-wine: $ns runs Wine with prefix $prefix"
}

stop() {
  local ns=$1 prefix
  prefix=$(prefix_of "$ns")
  [ -d "$prefix" ] || return 0
  WINEPREFIX=$prefix "$WINESERVER" -k >/dev/null 2>&1 || true
  WINEPREFIX=$prefix timeout 30 "$WINESERVER" -w >/dev/null 2>&1 || true
  rm -rf "$prefix" "$prefix.log"
}

run() {
  local ns=$1 prefix limit=${ORV_WINE_TIMEOUT:-300}
  shift
  prefix=$(prefix_of "$ns")
  for arg in "$@"; do
    [ "$arg" = "--gtest_list_tests" ] && exec "$root/scripts/wine-run" "$@"
  done
  if ! has_namespace "$ns" || [ ! -f "$prefix/.orv-ready" ]; then
    ORV_NETNS_MISSING=$ns exec "$root/scripts/wine-run" "$@"
  fi
  WINEPREFIX=$prefix exec ip netns exec "$ns" timeout -k 5 "$limit" "$WINELOADER" "$@"
}

command=${1:-}
case "$command" in
  start|stop)
    [ $# -eq 2 ] || { echo "usage: $0 $command NAMESPACE" >&2; exit 2; }
    "$command" "$2"
    ;;
  run)
    [ $# -ge 3 ] || { echo "usage: $0 run NAMESPACE PROGRAM [ARGS...]" >&2; exit 2; }
    shift
    run "$@"
    ;;
  *)
    echo "usage: $0 start|stop NAMESPACE | run NAMESPACE PROGRAM [ARGS...]" >&2
    exit 2
    ;;
esac
