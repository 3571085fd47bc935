#!/usr/bin/env bash
# The network rig of the discovery tests: a small switched network of
# namespaces on 198.18.9.0/24 (reserved for test networks), a second
# network 198.18.10.0/24, and a namespace with loopback only.
#
#   orv9-lib  198.18.9.1   the library under Wine (netns-wine.sh), default
#             198.18.10.1  route on the switch; permanent neighbours
#                          198.18.9.14 (02:5E:91:00:00:14, a vendor MAC that
#                          never answers) and 198.18.9.99 (nobody); one SYN
#                          retry, so a connect to nobody fails after ~3 s
#   orv9-sw   198.18.9.250 the switch (bridge orv9-br) and the rig's printer
#                          simulator, control port 198.18.9.250:19109
#   orv9-p1   198.18.9.11  FE:FF:FF:FF:00:01  GETA answers after 50 ms, DHCP
#                          requests every 200 ms, each after the junk that h
#                          sends too (so a search deafened by junk misses p1)
#   orv9-p2   198.18.9.12  0A:4D:C2:12:34:56  GETA answers after 50 ms; a real
#                          DHCP client (udhcpc) sends its requests
#   orv9-h    198.18.9.13  02:00:00:09:00:13  an ordinary host: answers GETA at
#                          once after short, long (3000 bytes) and random
#                          junk; DHCP requests and junk every 200 ms
#   orv9-p3   198.18.10.2  0A:4D:C2:00:10:02  on the second network: DHCP
#                          requests every 200 ms
#   orv9-e    198.18.9.21-24  02:00:00:09:00:21  answers no echo itself; the
#                          scripted responder echo-responder.pl answers the
#                          echo probe wrongly (another identifier, another
#                          type, from a third address), as it says
#   orv9-lo   127.0.0.1    nothing but loopback (Wine as well)
#
# orv9-lib also has an interface orv9-gone (198.18.11.1/24, a veth pair
# whose other end stays in orv9-lib) that tests may remove during a
# search, and add again with "discovery-rig.sh gone-add".
#
# The kernels of the printer namespaces (p1, p2, h, p3; so named in the
# simulator too) answer echo requests, broadcast ones as well.
#
#   usage: discovery-rig.sh up|down   (needs root; without it "up" says so
#   and exits 0, and the tests that need the rig skip)
#          discovery-rig.sh gone-add  (in orv9-lib: make orv9-gone again)
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ORV_BUILD:-$root/build}
sim=$build/host/bin/printer-sim
control_ip=198.18.9.250 control_port=19109
sim_pid=$build/orv9-sim.pid sim_log=$build/orv9-sim.log
dhcp_pid=$build/orv9-udhcpc.pid dhcp_log=$build/orv9-udhcpc.log
echo_pid=$build/orv9-echo.pid echo_log=$build/orv9-echo.log
namespaces=(orv9-lib orv9-lo orv9-sw orv9-p1 orv9-p2 orv9-h orv9-p3 orv9-e)
wine_namespaces=(orv9-lib orv9-lo)

# Junk on the ports: short (ending one byte before the last field that
# the library reads), longer than the library's 2048-byte buffer (both
# carrying a vendor MAC where a record or request has one, so that a junk
# datagram taken for a device would show), and random bytes.
short_record=4c4e345347455441feffffff00770000c0a809
short_request=$(printf '01010600%048dfeffffff00' 0)
long_record=$(printf '4c4e345347455441feffffff0077%05986d' 0)
long_request=$(printf '%056dfeffffff0077%05932d' 0 0)
udp_junk=$short_record,$long_record,8b1f3e55a0c2d4e6123456789abc0000c0a8090d00000000
dhcp_junk=$short_request,$long_request,$(printf '010106009e3779b9%040d12345678%0532d' 0 0)

add_gone="ip link add orv9-gone type veth peer name orv9-gonep && ip addr add 198.18.11.1/24 dev orv9-gone && ip link set orv9-gonep up && ip link set orv9-gone up"

stop_pidfile() {
  local file=$1 pid
  pid=$(cat "$file" 2>/dev/null) || return 0
  if [[ $pid =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$file"
}

down() {
  for ns in "${wine_namespaces[@]}"; do
    "$here/netns-wine.sh" stop "$ns"
  done
  stop_pidfile "$dhcp_pid"
  stop_pidfile "$echo_pid"
  stop_pidfile "$sim_pid"
  for ns in "${namespaces[@]}"; do
    ip netns del "$ns" 2>/dev/null
  done
  return 0
}

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

# A namespace with loopback up and no IPv6 chatter.
make_namespace() {
  local ns=$1
  ip netns add "$ns" &&
  in_ns "$ns" ip link set lo up &&
  in_ns "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
}

# host_on_switch NS ADDRESS MAC: NS gets interface NS (the veth end) on
# the switch; default route through it.
host_on_switch() {
  local ns=$1 address=$2 mac=$3
  ip link add "$ns" netns "$ns" address "$mac" type veth peer name "${ns}b" netns orv9-sw &&
  in_ns orv9-sw ip link set "${ns}b" master orv9-br up &&
  in_ns "$ns" ip addr add "$address/24" dev "$ns" &&
  in_ns "$ns" ip link set "$ns" up &&
  in_ns "$ns" ip route add default dev "$ns"
}

build_network() {
  for ns in "${namespaces[@]}"; do make_namespace "$ns" || return 1; done
  for ns in orv9-p1 orv9-p2 orv9-h orv9-p3; do
    in_ns "$ns" sysctl -qw net.ipv4.icmp_echo_ignore_broadcasts=0 || return 1
  done
  in_ns orv9-sw ip link add orv9-br address 02:00:00:09:00:fa type bridge &&
  in_ns orv9-sw ip addr add "$control_ip/24" dev orv9-br &&
  in_ns orv9-sw ip link set orv9-br up &&
  host_on_switch orv9-lib 198.18.9.1 02:00:00:09:00:01 &&
  host_on_switch orv9-p1 198.18.9.11 fe:ff:ff:ff:00:01 &&
  host_on_switch orv9-p2 198.18.9.12 0a:4d:c2:12:34:56 &&
  host_on_switch orv9-h 198.18.9.13 02:00:00:09:00:13 &&
  host_on_switch orv9-e 198.18.9.21 02:00:00:09:00:21 &&
  for a in 22 23 24; do in_ns orv9-e ip addr add "198.18.9.$a/24" dev orv9-e || return 1; done &&
  in_ns orv9-e sysctl -qw net.ipv4.icmp_echo_ignore_all=1 &&
  ip link add orv9-l1 netns orv9-lib address 02:00:00:10:00:01 \
      type veth peer name orv9-p3 netns orv9-p3 address 0a:4d:c2:00:10:02 &&
  in_ns orv9-lib ip addr add 198.18.10.1/24 dev orv9-l1 &&
  in_ns orv9-lib ip link set orv9-l1 up &&
  in_ns orv9-p3 ip addr add 198.18.10.2/24 dev orv9-p3 &&
  in_ns orv9-p3 ip link set orv9-p3 up &&
  in_ns orv9-p3 ip route add default dev orv9-p3 &&
  in_ns orv9-lib sh -c "$add_gone" &&
  in_ns orv9-lib sysctl -qw net.ipv4.tcp_syn_retries=1 &&
  in_ns orv9-lib ip neigh replace 198.18.9.14 lladdr 02:5e:91:00:00:14 dev orv9-lib nud permanent &&
  in_ns orv9-lib ip neigh replace 198.18.9.99 lladdr 02:00:00:09:00:99 dev orv9-lib nud permanent
}

# Sends control lines (stdin) to the rig's simulator; fails on an error.
sim_control() {
  in_ns orv9-sw bash -c '
    exec 3<>"/dev/tcp/$0/$1" || exit 1
    while IFS= read -r line; do
      echo "$line" >&3
      IFS= read -r -t 10 answer <&3 || { echo "no answer to: $line" >&2; exit 1; }
      case $answer in ok*) ;; *) echo "$line: $answer" >&2; exit 1 ;; esac
    done' "$control_ip" "$control_port"
}

start_printers() {
  rm -f "$sim_pid"
  in_ns orv9-sw "$sim" --serve "$control_ip:$control_port" --daemon --pidfile "$sim_pid" \
      --log "$sim_log" </dev/null || return 1
  local quiet="print=off command=off"
  # The DHCP-request search takes one datagram per interface every 100 ms.
  # p1 and h send four datagrams a second each (a request and its junk),
  # so with udhcpc's the first network stays below ten a second: every
  # request is read before the next pass, and none waits behind a backlog.
  sim_control <<EOF
create p1 198.18.9.11 netns=orv9-p1 $quiet udp=any mac=FE:FF:FF:FF:00:01 udp_delay_ms=50 dhcp_every_ms=1000 dhcp_junk=$dhcp_junk
create p2 198.18.9.12 netns=orv9-p2 $quiet udp=any mac=0A:4D:C2:12:34:56 udp_delay_ms=50
create h 198.18.9.13 netns=orv9-h $quiet udp=any mac=02:00:00:09:00:13 udp_junk=$udp_junk dhcp_every_ms=1000 dhcp_junk=$dhcp_junk
create p3 198.18.10.2 netns=orv9-p3 $quiet mac=0A:4D:C2:00:10:02 dhcp_every_ms=200
EOF
}

start_dhcp_client() {
  rm -f "$dhcp_pid"
  # -s /bin/true: the client never touches the interface's address.
  in_ns orv9-p2 setsid udhcpc -f -i orv9-p2 -s /bin/true -t 3 -T 1 -A 1 -p "$dhcp_pid" \
      </dev/null >"$dhcp_log" 2>&1 &
  for _ in $(seq 50); do [ -s "$dhcp_pid" ] && return 0; sleep 0.1; done
  return 1
}

start_echo_responder() {
  rm -f "$echo_pid"
  in_ns orv9-e setsid perl "$here/echo-responder.pl" "$echo_pid" </dev/null >"$echo_log" 2>&1 &
  for _ in $(seq 50); do [ -s "$echo_pid" ] && return 0; sleep 0.1; done
  return 1
}

up() {
  if [ "$(id -u)" -ne 0 ] || ! command -v ip >/dev/null || ! command -v udhcpc >/dev/null; then
    echo "discovery-rig: needs root, iproute2 and udhcpc; rig tests will skip"
    return 0
  fi
  down
  build_network || { echo "discovery-rig: could not build the network"; down; return 1; }
  start_printers || { echo "discovery-rig: printer-sim failed (see $sim_log)"; down; return 1; }
  start_dhcp_client || { echo "discovery-rig: udhcpc did not start (see $dhcp_log)"; down; return 1; }
  start_echo_responder || { echo "discovery-rig: echo-responder.pl did not start (see $echo_log)"; down; return 1; }
  for ns in "${wine_namespaces[@]}"; do
    "$here/netns-wine.sh" start "$ns" || { down; return 1; }
  done
  echo "discovery-rig: up (library in orv9-lib 198.18.9.1 and 198.18.10.1, printers .11 .12 .13 and 198.18.10.2)"
}

case "${1:-}" in
  up) up ;;
  down) down ;;
  gone-add)
    # Only inside the rig's library namespace, never on this machine.
    [ "$(ip netns identify $$)" = orv9-lib ] || { echo "discovery-rig: gone-add runs in orv9-lib only" >&2; exit 1; }
    sh -c "$add_gone"
    ;;
  *) echo "usage: $0 up|down|gone-add" >&2; exit 2 ;;
esac
