#!/usr/bin/env bash
# The test run's Wine prefix (build/wine unless ORV_WINEPREFIX is set):
#   start   create it once (wineboot, null graphics driver), then keep one
#           wineserver running so each test starts in a fraction of a second
#   stop    stop that wineserver and the prefix's background processes
# Wine's background processes keep the standard output of the first Wine
# program of a prefix open, so everything here writes to a log file.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-common.sh"
log="$(dirname "$WINEPREFIX")/wine-prefix.log"

create_prefix() {
  echo "wine-env: creating the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  timeout -k 5 300 "$WINELOADER" wineboot -i >>"$log" 2>&1 </dev/null
  timeout -k 5 60 "$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    >>"$log" 2>&1 </dev/null
  # The driver setting takes effect when the wineserver starts again.
  "$WINESERVER" -k >>"$log" 2>&1 || true
  timeout 60 "$WINESERVER" -w >>"$log" 2>&1 || true
  touch "$WINEPREFIX/.orv-ready"
}

# The prefix's desktop process (explorer.exe /desktop) is started by the
# first program that creates a window, and inherits that program's output:
# under ctest a test's pipe, so the test seems to run on for as long as
# the desktop lives (it was seen holding a window test for 13 to 112 s).
# Started here, its output goes to the log; it lives until "stop".
desktop_running() {
  local pid
  for pid in $(pgrep -f 'explorer.exe /desktop'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

start_desktop() {
  desktop_running && return 0
  "$WINELOADER" explorer.exe /desktop >>"$log" 2>&1 </dev/null &
  for _ in $(seq 100); do
    desktop_running && return 0
    sleep 0.1
  done
  echo "wine-env: the desktop process did not start (see $log)" >&2
}

case "${1:-}" in
  start)
    [ -f "$WINEPREFIX/.orv-ready" ] || create_prefix
    "$WINESERVER" -p >>"$log" 2>&1 </dev/null || true
    # Let the first program of the run start the prefix's services here,
    # with their output going to the log.
    timeout -k 5 120 "$WINELOADER" cmd /c exit >>"$log" 2>&1 </dev/null || true
    start_desktop
    ;;
  stop)
    "$WINESERVER" -k >>"$log" 2>&1 || true
    timeout 60 "$WINESERVER" -w >>"$log" 2>&1 || true
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
