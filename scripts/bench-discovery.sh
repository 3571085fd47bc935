#!/usr/bin/env bash
# Discovery figures (called by scripts/bench.sh): each search kind once in
# the discovery rig (tests/rigs/discovery-rig.sh, needs root), with the
# search's own wall and CPU time (discovery_bench.exe), the packets the
# library's namespace sent meanwhile (/proc/net/snmp: ICMP echo requests,
# UDP datagrams) and the CPU time of that namespace's wineserver.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
rig=$root/tests/rigs
bench=$build/win64/bin/discovery_bench.exe

echo "=== discovery: one search of each kind in the rig (2 printers on the switch, 1 on a second network)"
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the rig needs root"
  exit 0
fi
"$rig/discovery-rig.sh" up >/dev/null || { echo "skipped: the rig could not be built"; exit 0; }
trap '"$rig/discovery-rig.sh" down' EXIT

# counter GROUP NAME: one counter of the library namespace's /proc/net/snmp.
counter() {
  ip netns exec orv9-lib cat /proc/net/snmp | awk -v group="$1:" -v name="$2" '
    $1 == group && !seen { for (i = 2; i <= NF; i++) column[$i] = i; seen = 1; next }
    $1 == group && seen  { print $(column[name]); exit }'
}

server_pid=
for pid in $(pgrep wineserver); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$build/wine-ns/orv9-lib"; then
    server_pid=$pid
  fi
done
server_ticks() {
  [ -n "$server_pid" ] || { echo 0; return; }
  awk '{ print $14 + $15 }' "/proc/$server_pid/stat"
}
hz=$(getconf CLK_TCK)

for kind in arp arp-prefix dhcp udp udp-silent udp-unicast; do
  echoes=$(counter Icmp OutEchos) datagrams=$(counter Udp OutDatagrams) ticks=$(server_ticks)
  line=$("$rig/netns-wine.sh" run orv9-lib "$bench" "$kind" | tr -d '\r')
  echoes=$(( $(counter Icmp OutEchos) - echoes ))
  datagrams=$(( $(counter Udp OutDatagrams) - datagrams ))
  ticks=$(( $(server_ticks) - ticks ))
  printf '%s\n    sent %d echo requests, %d UDP datagrams; wineserver cpu %s s\n' "$line" "$echoes" "$datagrams" \
    "$(awk -v t="$ticks" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }')"
done
