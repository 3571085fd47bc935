#!/usr/bin/env bash
# The network rig of the reachability and status tests: a network
# namespace "orv8-reach" joined to this machine by a veth pair on the test
# network 198.18.8.0/24 (reserved for test networks), with two hosts that
# never answer themselves:
#
#   this machine  orv8-h  198.18.8.1/24   <-veth->   orv8-n  198.18.8.2/24  namespace orv8-reach
#
#   198.18.8.66  unreachable: a permanent neighbour entry sends its frames
#                to the namespace, which forwards nothing there and
#                answers every packet with ICMP "host unreachable" (its
#                route of type unreachable, error rate limit off), as a
#                router does for a host that is gone
#   198.18.8.99  silent: a permanent neighbour entry sends its frames into
#                the veth to a MAC that nobody has, so nothing ever answers
#
#   usage: reach-rig.sh up|down     (needs root; "up" without it says so
#   and exits 0, and the tests that need the rig skip themselves)
set -uo pipefail
ns=orv8-reach host_if=orv8-h ns_if=orv8-n

down() {
  ip netns del "$ns" 2>/dev/null
  ip link del "$host_if" 2>/dev/null
  return 0
}

up() {
  if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null; then
    echo "reach-rig: needs root and iproute2; rig tests will skip"
    return 0
  fi
  down
  local ns_mac
  ip netns add "$ns" &&
  ip link add "$host_if" type veth peer name "$ns_if" &&
  ip link set "$ns_if" netns "$ns" &&
  ip addr add 198.18.8.1/24 dev "$host_if" &&
  ip link set "$host_if" up &&
  ip netns exec "$ns" ip addr add 198.18.8.2/24 dev "$ns_if" &&
  ip netns exec "$ns" ip link set "$ns_if" up &&
  ip netns exec "$ns" ip link set lo up &&
  ip netns exec "$ns" sysctl -qw net.ipv4.ip_forward=1 &&
  ip netns exec "$ns" sysctl -qw net.ipv4.icmp_ratelimit=0 &&
  ip netns exec "$ns" sysctl -qw net.ipv4.conf.all.send_redirects=0 &&
  ip netns exec "$ns" sysctl -qw "net.ipv4.conf.$ns_if.send_redirects=0" &&
  ip netns exec "$ns" ip route add unreachable 198.18.8.66/32 &&
  ns_mac=$(ip netns exec "$ns" cat "/sys/class/net/$ns_if/address") &&
  ip neigh replace 198.18.8.66 lladdr "$ns_mac" dev "$host_if" nud permanent &&
  ip neigh replace 198.18.8.99 lladdr 02:00:5e:12:08:99 dev "$host_if" nud permanent || {
    echo "reach-rig: could not build the rig; rig tests will skip"
    down
    return 0
  }
  echo "reach-rig: up ($host_if 198.18.8.1 <-> $ns:$ns_if 198.18.8.2, unreachable 198.18.8.66, silent 198.18.8.99)"
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  *) echo "usage: $0 up|down" >&2; exit 2 ;;
esac
