#!/usr/bin/env bash
# The sample programs of examples/ as a user meets them: built with MinGW
# from the package folder in dist/ alone (orvcomms.h and the import
# library, through examples/Makefile), then run under Wine against the
# printer simulator, their output checked line by line:
#   print_file      a 1 MiB file arrives intact, with progress lines; a
#                   refused open names error 10061
#   printer_status  status bytes and device ID of a printer, both checks
#                   answered; a host refusing port 9200 gives error 10061
#   find_printers   the UDP search finds the printer (its ARP search is not
#                   run: it would send broadcasts beyond this machine)
# Skipped, with a message, when make dist has not written the folder since
# the DLL was last built (the folder's DLL is not the build's).
#   usage: run-samples.sh TRIPLE DIST_DIR BUILT_DLL PRINTER_SIM WORK_DIR NET
# NET is the third octet of the test's addresses, 127.200.NET.x, one per
# build so that the two suites never share an address.
set -uo pipefail
triple=$1 dist=$2 built_dll=$3 sim=$4 work=$5 net=$6
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
skip=77
printer=127.200.$net.10 refusing=127.200.$net.11

# (Compared by content: the install keeps only whole seconds of the time.)
if ! cmp -s "$dist/orvcomms.dll" "$built_dll"; then
  echo "$dist is missing or holds another orvcomms.dll than this build's: run make dist"
  exit $skip
fi
rm -rf "$work"
mkdir -p "$work"
sim_pid=
cleanup() { [ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; }; }
trap cleanup EXIT

status=0
fail() { echo "FAIL: $*"; status=1; }

# Build: nothing but the package folder on the include and link lines.
make -s -C "$root/examples" DIST="$dist" OUT="$work/bin" CC="$triple-gcc" \
  CFLAGS="-O2 -Wall -Wextra -Werror" || { echo "FAIL: the samples do not build from $dist"; exit 1; }

"$sim" "$printer" store="$work/stored.bin" udp=own >"$work/printer.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do grep -q "^printer on" "$work/printer.log" && break; sleep 0.1; done
grep -q "^printer on" "$work/printer.log" || { cat "$work/printer.log"; echo "FAIL: no simulated printer"; exit 1; }

# Runs one sample; its output (CRs stripped) in $out, its exit status in $rc.
sample() {
  out=$(cd "$work/bin" && ORV_WINE_TIMEOUT=60 "$root/scripts/wine-run" "$@" 2>&1 | tr -d '\r')
  rc=${PIPESTATUS[0]}
  printf '$ %s\n%s\n(exit %s)\n' "$*" "$out" "$rc"
}
has() { grep -qE -- "$1" <<<"$out" || fail "$2: no line matching '$1'"; }

head -c 1048576 /dev/urandom >"$work/job.bin"
sample print_file.exe "$printer" ../job.bin
[ "$rc" = 0 ] || fail "print_file exited $rc"
has "^connected to $printer port 9100, sending 1048576 bytes$" print_file
has "^sent 65536 of 1048576 bytes \(6%\)$" print_file
has "^sent 1048576 of 1048576 bytes \(100%\)$" print_file
has "^printed 1048576 bytes$" print_file
cmp -s "$work/job.bin" "$work/stored.bin" || fail "print_file: the printer did not receive the file intact"

sample print_file.exe "$refusing" ../job.bin
[ "$rc" = 1 ] || fail "print_file on a refusing host exited $rc"
has "^cannot connect to $refusing port 9100: error 10061 " "print_file, refused"
has "the host refused" "print_file, refused"

sample printer_status.exe "$printer"
[ "$rc" = 0 ] || fail "printer_status exited $rc"
# The simulator's default status reply, "STATUS:READY   \n".
has "^status: 16 bytes: 53 54 41 54 55 53 3a 52 45 41 44 59 20 20 20 0a$" printer_status
has "^device ID: MFG:ORV;CMD:ESC/P;MDL:orv2100N;CLS:PRINTER;$" printer_status
has "^ICMP echo: answered$" printer_status
has "^TCP port 80: answered$" printer_status

sample printer_status.exe "$refusing"
[ "$rc" = 1 ] || fail "printer_status on a refusing host exited $rc"
has "^status: no reply: error 10061 " "printer_status, refused"
has "^device ID: no reply: error 10061 " "printer_status, refused"
has "^TCP port 80: answered$" "printer_status, refused"

sample find_printers.exe udp "$printer"
[ "$rc" = 0 ] || fail "find_printers exited $rc"
has "^$printer +0A:4D:C2:[0-9A-F]{2}:[0-9A-F]{2}:[0-9A-F]{2}  \(UDP\)$" find_printers

sample find_printers.exe udp "$refusing"
has "^no printers found by the UDP search$" "find_printers, nobody there"

[ "$status" = 0 ] && echo "the samples build from $dist and print what they should"
exit $status
