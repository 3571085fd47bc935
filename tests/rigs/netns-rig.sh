#!/usr/bin/env bash
# The network rig of the print-channel tests: a network namespace
# "orv-rig" joined to this machine by a veth pair on the test network
# 198.18.1.0/24 (reserved for test networks):
#
#   this machine  orv-rig-h  198.18.1.1/24   <-veth->   orv-rig-n  198.18.1.2-9/24  namespace orv-rig
#
# The printer simulator serves 198.18.1.2 to .9 inside the namespace (one
# address a test, so that tests run in parallel), so a
# connection to it leaves by orv-rig-h and a socket bound to the subnet's
# interface address shows 198.18.1.1 as its source. 198.18.1.99 is a host
# that never answers: a permanent neighbour entry sends its frames into
# the veth, where nothing takes them.
#
#   usage: netns-rig.sh up|down     (needs root; "up" without it says so
#   and exits 0, and the tests that need the rig skip themselves)
set -uo pipefail
ns=orv-rig host_if=orv-rig-h ns_if=orv-rig-n

down() {
  ip netns del "$ns" 2>/dev/null
  ip link del "$host_if" 2>/dev/null
  return 0
}

add_printer_addresses() {
  local host
  for host in $(seq 3 9); do
    ip netns exec "$ns" ip addr add "198.18.1.$host/24" dev "$ns_if" || return 1
  done
}

up() {
  if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
    echo "netns-rig: needs root and iproute2; rig tests will skip"
    return 0
  fi
  down
  ip netns add "$ns" &&
  ip link add "$host_if" type veth peer name "$ns_if" &&
  ip link set "$ns_if" netns "$ns" &&
  ip addr add 198.18.1.1/24 dev "$host_if" &&
  ip link set "$host_if" up &&
  ip netns exec "$ns" ip addr add 198.18.1.2/24 dev "$ns_if" &&
  add_printer_addresses &&
  ip netns exec "$ns" ip link set "$ns_if" up &&
  ip netns exec "$ns" ip link set lo up &&
  ip neigh replace 198.18.1.99 lladdr 02:00:5e:12:01:99 dev "$host_if" nud permanent || {
    echo "netns-rig: could not build the rig; rig tests will skip"
    down
    return 0
  }
  echo "netns-rig: up ($host_if 198.18.1.1 <-> $ns:$ns_if 198.18.1.2-9, silent host 198.18.1.99)"
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: $0 up|down" >&2; exit 2 ;;
esac
