#!/usr/bin/env bash
# The printer simulator's control server for a test run or the demo:
#   start   run build/host/bin/printer-sim --serve as a daemon on
#           ${ORV_SIM_CONTROL:-127.0.0.1:19101}, pidfile build/printer-sim.pid,
#           log build/printer-sim.log; nothing to do when it runs already
#   stop    stop it (SIGTERM, then SIGKILL after 10 s)
# Tests then create their printers with "create ID ADDRESS ..." on that
# port (see printer-sim --help).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
program=$build/host/bin/printer-sim
control=${ORV_SIM_CONTROL:-127.0.0.1:19101}
pidfile=$build/printer-sim.pid
log=$build/printer-sim.log

# Alive and not a zombie (the daemon's reaper may be slow to reap it).
running() {
  local pid=$1 stat
  stat=$(cat "/proc/$pid/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat:0:1}" != Z ]
}

current_pid() {
  local pid
  pid=$(cat "$pidfile" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] && running "$pid" && echo "$pid"
}

start() {
  if pid=$(current_pid); then
    echo "sim-env: printer-sim runs already (pid $pid, control $control)"
    return 0
  fi
  if [ ! -x "$program" ]; then
    echo "sim-env: $program is missing; run 'make host' first" >&2
    return 1
  fi
  rm -f "$pidfile"
  mkdir -p "$build"
  "$program" --serve "$control" --daemon --pidfile "$pidfile" --log "$log" </dev/null
  for _ in $(seq 100); do
    if pid=$(current_pid); then
      echo "sim-env: printer-sim started (pid $pid, control $control, log $log)"
      return 0
    fi
    sleep 0.1
  done
  echo "sim-env: printer-sim did not write $pidfile within 10 s (see $log)" >&2
  return 1
}

stop() {
  local pid
  if ! pid=$(current_pid); then
    rm -f "$pidfile"
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do
    running "$pid" || break
    sleep 0.1
  done
  if running "$pid"; then
    echo "sim-env: printer-sim (pid $pid) ignored SIGTERM; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
  echo "sim-env: printer-sim stopped"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  *)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
