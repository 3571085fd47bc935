#!/usr/bin/env bash
# Serial ports for the tests, the benchmark and the demo: pairs of
# pseudo-terminals joined by socat, each end a COM port of the run's Wine
# prefix (its dosdevices/comN link names the Unix device behind COMN).
#   start [A:B ...]   for each pair (default "21:22"), run socat with two
#                     raw pseudo-terminal ends and link COMA and COMB to
#                     them; what one end writes, the other reads
#   stop [A:B ...]    stop those socat processes and remove the links
# Open the ports as "\\.\COM21": names from COM10 on need that form.
# The prefix must exist (scripts/wine-env.sh start).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-common.sh"
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
dir=$build/serial
dosdevices=$WINEPREFIX/dosdevices

running() {
  local pid
  pid=$(cat "$1" 2>/dev/null) && [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null
}

start_pair() {
  local a=$1 b=$2 pidfile=$dir/pair-$1-$2.pid
  if running "$pidfile"; then
    echo "serial-env: COM$a <-> COM$b runs already"
    return 0
  fi
  rm -f "$dir/com$a" "$dir/com$b"
  setsid socat "pty,raw,echo=0,link=$dir/com$a" "pty,raw,echo=0,link=$dir/com$b" \
    </dev/null >>"$dir/socat.log" 2>&1 &
  echo $! >"$pidfile"
  for _ in $(seq 50); do
    [ -L "$dir/com$a" ] && [ -L "$dir/com$b" ] && break
    sleep 0.1
  done
  if [ ! -L "$dir/com$a" ] || [ ! -L "$dir/com$b" ]; then
    echo "serial-env: socat made no pseudo-terminals for COM$a/COM$b (see $dir/socat.log)" >&2
    return 1
  fi
  ln -sfn "$(readlink -f "$dir/com$a")" "$dosdevices/com$a"
  ln -sfn "$(readlink -f "$dir/com$b")" "$dosdevices/com$b"
  echo "serial-env: COM$a ($(readlink "$dosdevices/com$a")) <-> COM$b ($(readlink "$dosdevices/com$b"))"
}

stop_pair() {
  local a=$1 b=$2 pidfile=$dir/pair-$1-$2.pid pid
  if pid=$(cat "$pidfile" 2>/dev/null) && [[ $pid =~ ^[0-9]+$ ]]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$pidfile" "$dir/com$a" "$dir/com$b" "$dosdevices/com$a" "$dosdevices/com$b"
}

command=${1:-}
shift || true
pairs=("$@")
[ ${#pairs[@]} -gt 0 ] || pairs=(21:22)
case $command in
  start)
    command -v socat >/dev/null || { echo "serial-env: socat is missing; run scripts/setup.sh" >&2; exit 1; }
    [ -d "$dosdevices" ] || { echo "serial-env: no Wine prefix at $WINEPREFIX" >&2; exit 1; }
    mkdir -p "$dir"
    for pair in "${pairs[@]}"; do start_pair "${pair%:*}" "${pair#*:}"; done
    ;;
  stop)
    for pair in "${pairs[@]}"; do stop_pair "${pair%:*}" "${pair#*:}"; done
    ;;
  *)
    echo "usage: $0 start|stop [A:B ...]" >&2
    exit 2
    ;;
esac
