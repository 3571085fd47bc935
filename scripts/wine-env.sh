#!/usr/bin/env bash
# The test run's Wine prefix (build/wine unless ORV_WINEPREFIX is set):
#   start   create it once (wineboot, null graphics driver), then keep one
#           wineserver running so each test starts in a fraction of a second
#   stop    stop that wineserver and the prefix's background processes,
#           also those a crashed wineserver left behind
# Wine's background processes keep the standard output of the first Wine
# program of a prefix open, so everything here writes to a log file.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-common.sh"
log="$(dirname "$WINEPREFIX")/wine-prefix.log"

# The test run's settings of a new prefix.
prefix_settings() {
  timeout -k 5 60 "$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
    >>"$log" 2>&1 </dev/null
  # No crash debugger: a test program that crashes ends at once with its
  # exception code, instead of starting winedbg, which inherits the test
  # runner's descriptors and can hang until the test's time-out or longer.
  # (An empty command, since without the value Wine starts winedbg anyway.)
  # The driver setting takes effect when the wineserver starts again,
  # which orv_create_prefix does.
  timeout -k 5 60 "$WINELOADER" reg add \
    'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
    >>"$log" 2>&1 </dev/null
}

create_prefix() {
  echo "wine-env: creating the Wine prefix $WINEPREFIX"
  orv_create_prefix "$log" prefix_settings || return 1
  touch "$WINEPREFIX/.orv-ready"
}

# A prefix is kept for later runs only while it is complete: one that a
# run before this check kept, or that lost a registration since, is made
# anew.
prefix_ready() {
  [ -f "$WINEPREFIX/.orv-ready" ] || return 1
  local missing
  missing=$(orv_prefix_missing)
  [ -z "$missing" ] && return 0
  echo "wine-env: the prefix $WINEPREFIX lacks:"
  sed 's/^/  /' <<<"$missing"
  return 1
}

# The prefix's desktop process (explorer.exe /desktop) is started by the
# first program that creates a window and inherits that program's output:
# under ctest a test's pipe, so that test seems to run on for as long as
# the desktop lives (seen holding a window test for 13 to 112 s). The
# wineserver closes the desktop one second after its last window program
# has gone, so between runs it comes and goes. A window program started
# here and kept until "stop" (notepad, hidden behind the null driver)
# starts the desktop with its output in the log and keeps it for the run.
# The processes of this prefix whose command line matches the pattern.
prefix_pids() {
  local pid
  for pid in $(pgrep -f "$1"); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
prefix_process_running() { [ -n "$(prefix_pids "$1")" ]; }

start_desktop() {
  if ! prefix_process_running 'notepad\.exe'; then
    "$WINELOADER" notepad.exe >>"$log" 2>&1 </dev/null &
  fi
  for _ in $(seq 100); do
    prefix_process_running 'notepad\.exe' && prefix_process_running 'explorer\.exe /desktop' && return 0
    sleep 0.1
  done
  echo "wine-env: the desktop process did not start (see $log)" >&2
}

# The wineserver, the prefix's services and the desktop outlive this
# script, and keep every descriptor they inherit. A caller's lock among
# them (flock /tmp/orv-test.lock scripts/wine-env.sh start ...) would stay
# held until the prefix stops, and every other run waiting for it would
# wait with it: close all but the standard three (and bash's own, 255,
# which reads this script) before anything is started.
close_inherited_descriptors() {
  local fd
  for fd in /proc/$$/fd/*; do
    fd=${fd##*/}
    case $fd in
      0 | 1 | 2 | 255) ;;
      *) eval "exec $fd>&-" 2>/dev/null || true ;;
    esac
  done
}

case "${1:-}" in
  start)
    close_inherited_descriptors
    orv_prepare_qemu
    prefix_ready || create_prefix || exit 1
    "$WINESERVER" -p >>"$log" 2>&1 </dev/null || true
    # Let the first program of the run start the prefix's services here,
    # with their output going to the log.
    timeout -k 5 120 "$WINELOADER" cmd /c exit >>"$log" 2>&1 </dev/null || true
    start_desktop
    ;;
  stop)
    [ -d "$WINEPREFIX" ] || exit 0
    "$WINESERVER" -k >>"$log" 2>&1 || true
    timeout 60 "$WINESERVER" -w >>"$log" 2>&1 || true
    # When a wineserver dies ("wineserver crashed" in the log), its
    # clients wait on it for ever, holding whatever descriptors they
    # inherited (a caller's lock or pipes): end what is left of the prefix.
    # Only Wine's own processes (32-bit ones run in QEMU), not a script
    # that merely carries the prefix in its environment.
    for pid in $(prefix_pids '\.exe|wine'); do
      case $(readlink "/proc/$pid/exe" 2>/dev/null) in
        */wine*|*/qemu-i386*) kill -KILL "$pid" 2>/dev/null || true ;;
      esac
    done
    ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
