#!/usr/bin/env bash
# Benchmarks: each prints figures and asserts nothing. Runs in the test
# run's Wine prefix and with the printer simulator (both started here and
# stopped at the end). The local-port, print-channel and status-channel
# figures come from both builds, side by side; the monitor's and the
# discovery figures from the 64-bit build.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
source "$here/prefix-lock.sh"
orv_hold_prefix bench bash "$0" "$@"
source "$here/wine-common.sh"

"$here/wine-env.sh" start || exit 1
"$here/sim-env.sh" start || exit 1
trap '"$here/sim-env.sh" stop; "$here/wine-env.sh" stop' EXIT
if orv_qemu_runs_32bit && orv_runs_32bit; then
  echo "(the win32 figures come from QEMU's emulation of 32-bit code on this machine, not from a 32-bit CPU)"
fi

# side_by_side PROGRAM: runs the benchmark of both builds, one after the
# other, and prints its lines once, each figure as "win64 | win32".
# Lines that differ in more than their numbers are printed from each.
side_by_side() {
  local program=$1 out64 out32
  out64=$("$here/wine-run" "$build/win64/bin/$program" | tr -d '\r')
  if ! orv_runs_32bit; then
    echo "(figures: win64 only; this machine cannot run 32-bit programs)"
    echo "$out64"
    return
  fi
  out32=$("$here/wine-run" "$build/win32/bin/$program" | tr -d '\r')
  echo "(figures: win64 | win32)"
  OUT32=$out32 perl -e '
    my @other = split /\n/, $ENV{OUT32};
    my $number = qr/^[-+(]?[0-9][0-9.]*[%,)]?$/;
    # "(1.50" and "(1.54" give "(1.50 | 1.54": brackets and signs once.
    sub pair {
      my ($x, $y) = @_;
      my ($open) = $x =~ /^(\(?)/;
      my ($close) = $x =~ /([%,)]?)$/;
      s/^\(// for $x, $y;
      s/[%,)]$// for $x, $y;
      return "$open$x | $y$close";
    }
    while (my $line = <STDIN>) {
      chomp $line;
      my $them = $other[$. - 1] // "";
      my @a = split /( +)/, $line;
      my @b = split /( +)/, $them;
      my $same = @a == @b;
      for my $i (0 .. $#a) {
        last unless $same;
        next if $i % 2;  # the spaces between
        $same = 0 if $a[$i] ne $b[$i] && !($a[$i] =~ $number && $b[$i] =~ $number);
      }
      if (!$same) { print "win64: $line\nwin32: $them\n"; next }
      print join("", map { $_ % 2 || $a[$_] eq $b[$_] ? $a[$_] : pair($a[$_], $b[$_]) } 0 .. $#a), "\n";
    }' <<<"$out64"
}

echo "=== local ports: serial pair and named pipe"
"$here/serial-env.sh" start >/dev/null
side_by_side localport_bench.exe
"$here/serial-env.sh" stop

echo "=== print channel: OvWritePort against a fast printer"
side_by_side netport_bench.exe

echo "=== status channel: OvGetStatus beside a plain exchange"
side_by_side status_bench.exe

# The wineserver of this prefix: under Wine it does the registry's work,
# so the poll benchmark reports its CPU time too.
server_pid=
for pid in $(pgrep wineserver); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
    server_pid=$pid
  fi
done

echo "=== status monitor: PollRecord against Wine's registry"
"$here/wine-run" "$build/win64/bin/monitor_poll_bench.exe" --polls 1000 --tag "orv-bench-$$" \
  ${server_pid:+--server-pid $server_pid}
"$here/wine-run" "$build/win64/bin/monitor_poll_count.exe"

echo "=== status monitor: orvstsn.exe idle for ${ORV_IDLE_SECONDS:-60} s"
"$here/wine-run" "$build/win64/bin/monitor_idle_bench.exe" --seconds "${ORV_IDLE_SECONDS:-60}" \
  ${server_pid:+--server-pid $server_pid} | tr -d '\r'
"$here/bench-discovery.sh"
