# Sourced at the top of a script that starts and stops the checkout's Wine
# prefix for its whole length (the test run, the demo, the benchmarks):
#   orv_hold_prefix NAME bash "$0" "$@"
# runs the script again under a lock on the prefix, so that a second such
# run in the same checkout waits for the first, instead of stopping its
# wineserver under its tests (a test then ends at once, cut off, and the
# next ones seem to hang). flock -o holds the lock in flock(1) itself and
# closes it for the script, so no Wine process of the run inherits it. Nothing is exported here
# but the marker that the lock is held.
orv_hold_prefix() {
  local name=$1 lock
  shift
  [ -n "${ORV_PREFIX_HELD:-}" ] && return 0
  lock=${ORV_WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine}.lock
  mkdir -p "$(dirname "$lock")"
  flock -n "$lock" true || echo "$name: another run uses the Wine prefix ${lock%.lock}; waiting for it to end"
  ORV_PREFIX_HELD=1 exec flock -o "$lock" "$@"
}
