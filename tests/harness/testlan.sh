#!/usr/bin/env bash
# The test LAN: network namespaces joined by veth pairs on bridges that live
# in a namespace of their own. Nothing is created in the root namespace, so
# nothing a test sends can reach the machine's own network.
#
#   testlan.sh up RUN            build the LAN of run RUN, print its variables
#   testlan.sh down RUN          remove every namespace of run RUN
#   testlan.sh host NAME SEG:ADDR/LEN [SEG:ADDR/LEN ...]
#                                add a host RUN-NAME (RUN from $SL_RUN), one
#                                interface ethK per address, K counting from 1
#   testlan.sh drop NAME         remove host RUN-NAME
#   testlan.sh env RUN           print the LAN's variables as shell exports
#   testlan.sh condition NAME shape RATE | loss PERCENT | only-from ADDR | clear
#                                what the link of host RUN-NAME does to its
#                                traffic, both ways: a rate (tc tbf, e.g.
#                                2mbit), random loss, or TCP only from ADDR
#
# Segments: 1 is 198.18.0.0/16, 2 is 198.19.0.0/16 (the range set aside for
# benchmark networks), both on the pc. Segment 3, 10.77.0.0/16, lies behind
# the router RUN-rt (198.18.0.254 on segment 1, 10.77.0.1 on segment 3, IPv4
# forwarding on, no multicast routing): only unicast crosses it. The bridges
# br1, br2 and br3 live in RUN-sw. The pc has a hosts file of its own
# (/etc/netns/RUN-pc/hosts, which ip netns exec mounts over /etc/hosts)
# naming the update site, its mirror and segment-3 hosts; the proxy host
# (where a test starts its HTTP proxy) resolves the site and mirror the same way.
set -euo pipefail

die() { echo "testlan: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || die "needs root (ip netns)"

valid_run() { [[ "$1" =~ ^[a-z][a-z0-9]{1,11}$ ]] || die "run name '$1': 2-12 lower-case letters and digits"; }

ns_exists() { [ -e "/run/netns/$1" ]; }

# mac_of HOST K: the fixed hardware address of HOST's interface ethK, so that
# tests can name it (a magic packet, the neighbour table): 02:5e:1b:00:0N:0K
# for devN, else from a checksum of the host's name (locally administered).
mac_of() {
  local host=$1 k=$2 sum
  case "$host" in
    dev[1-9]) printf '02:5e:1b:00:%02x:%02x\n' "${host#dev}" "$k" ;;
    *) sum=$(printf '%s' "$host" | cksum | cut -d' ' -f1)
       printf '02:5e:%02x:%02x:%02x:%02x\n' $((sum >> 16 & 255)) $((sum >> 8 & 255)) $((sum & 255)) "$k" ;;
  esac
}

# attach NS IFNAME SEG ADDR/LEN: a veth from NS into bridge brSEG of the switch.
attach() {
  local ns=$1 ifname=$2 seg=$3 addr=$4 host=${1#"$SL_RUN"-}
  local peer="${host:0:8}-${ifname}"
  [ ${#peer} -le 15 ] || die "interface name $peer too long"
  case "$seg" in 1|2|3) ;; *) die "segment $seg: 1, 2 or 3" ;; esac
  ip link add "$ifname" netns "$ns" address "$(mac_of "$host" "${ifname#eth}")" type veth \
    peer name "$peer" netns "$SL_RUN-sw"
  ip -n "$SL_RUN-sw" link set "$peer" master "br$seg" up
  ip -n "$ns" addr add "$addr" dev "$ifname"
  ip -n "$ns" link set "$ifname" up
  # A host on the routed segment reaches the others through the router.
  if [ "$seg" = 3 ] && [ "$host" != rt ]; then
    ip -n "$ns" route replace default via 10.77.0.1
  fi
}

# make_host NAME SEG:ADDR/LEN ...
make_host() {
  local name=$1; shift
  local ns="$SL_RUN-$name"
  ns_exists "$ns" && die "host $ns exists already"
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  # Devices and the pc use IPv4 only; no IPv6 link-local chatter on the LAN.
  ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 || true
  local k=1 entry
  for entry in "$@"; do
    [[ "$entry" =~ ^([123]):([0-9.]+/[0-9]+)$ ]] || die "address '$entry': SEG:ADDR/LEN"
    attach "$ns" "eth$k" "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
    k=$((k + 1))
  done
}

print_env() {
  cat <<ENV
export SL_RUN=$SL_RUN
export SL_NS_SW=$SL_RUN-sw
export SL_NS_PC=$SL_RUN-pc
export SL_NS_DEV1=$SL_RUN-dev1
export SL_NS_DEV2=$SL_RUN-dev2
export SL_NS_SITE=$SL_RUN-site
export SL_PC_ADDR1=198.18.0.1
export SL_PC_ADDR2=198.19.0.1
export SL_DEV1_ADDR=198.18.1.1
export SL_DEV2_ADDR=198.19.1.1
export SL_SITE_ADDR=198.18.0.80
export SL_NS_MIRROR=$SL_RUN-mirror
export SL_MIRROR_ADDR=198.18.0.81
export SL_NS_PROXY=$SL_RUN-proxy
export SL_PROXY_ADDR=198.18.0.3
export SL_SITE_NAME=updates.solberio.test
export SL_MIRROR_NAME=mirror.solberio.test
export SL_NS_RT=$SL_RUN-rt
export SL_NS_DEV3=$SL_RUN-dev3
export SL_RT_ADDR=198.18.0.254
export SL_DEV3_ADDR=10.77.1.1
export SL_DEV3_NAME=dev3.routed.test
export SL_DEV1_MAC=$(mac_of dev1 1)
export SL_DEV2_MAC=$(mac_of dev2 1)
export SL_DEV3_MAC=$(mac_of dev3 1)
export SL_PC_HOSTS=/etc/netns/$SL_RUN-pc/hosts
export SL_TESTLAN=$(readlink -f "$0")
ENV
}

up() {
  ns_exists "$SL_RUN-sw" && die "run $SL_RUN exists already"
  ip netns add "$SL_RUN-sw"
  ip -n "$SL_RUN-sw" link set lo up
  local br
  for br in br1 br2 br3; do
    ip -n "$SL_RUN-sw" link add "$br" type bridge
    ip -n "$SL_RUN-sw" link set "$br" up
  done
  make_host pc 1:198.18.0.1/16 2:198.19.0.1/16
  make_host dev1 1:198.18.1.1/16
  make_host dev2 2:198.19.1.1/16
  make_host site 1:198.18.0.80/16
  make_host mirror 1:198.18.0.81/16
  make_host proxy 1:198.18.0.3/16
  make_host rt 1:198.18.0.254/16 3:10.77.0.1/16
  ip netns exec "$SL_RUN-rt" sysctl -qw net.ipv4.ip_forward=1
  # Forward directed broadcasts (10.77.255.255) onto segment 3, as routers
  # set up for Wake-on-LAN across subnets do; limited broadcasts never cross.
  ip netns exec "$SL_RUN-rt" sysctl -qw net.ipv4.conf.all.bc_forwarding=1 \
    net.ipv4.conf.eth1.bc_forwarding=1 net.ipv4.conf.eth2.bc_forwarding=1
  ip -n "$SL_RUN-pc" route add 10.77.0.0/16 via 198.18.0.254
  make_host dev3 3:10.77.1.1/16
  # The router hands all of 10.77.1.0/24 to dev3, so that a search of that
  # range makes one neighbour entry instead of 254 (the kernel's neighbour
  # table is shared by every namespace on the machine); dev3 drops what is
  # not its own.
  ip -n "$SL_RUN-rt" route add 10.77.1.0/24 via 10.77.1.1
  # Read by every process started in the pc (and proxy) namespace: ip netns
  # exec bind-mounts it over /etc/hosts. Removed with the run.
  local ns
  for ns in pc proxy; do
    mkdir -p "/etc/netns/$SL_RUN-$ns"
    cat >"/etc/netns/$SL_RUN-$ns/hosts" <<HOSTS
127.0.0.1 localhost
198.18.0.80 updates.solberio.test
198.18.0.81 mirror.solberio.test
10.77.1.1 dev3.routed.test
127.0.0.2 loopback.routed.test
HOSTS
  done
}

# condition NAME WHAT [ARG]: the link of host RUN-NAME (its eth1, and the
# bridge port it sends into) shapes or drops traffic. Drops are made on
# ingress, where TCP cannot see them, and the veths send single packets so
# that one drop loses one packet, not a 64 KiB segment.
condition() {
  local ns="$SL_RUN-$1" what=$2 arg=${3:-} host=$1
  local port="${host:0:8}-eth1"
  ns_exists "$ns" || die "no host $ns"
  case "$what" in
    shape)
      [[ "$arg" =~ ^[0-9]+[kmg]?bit$ ]] || die "shape RATE: like 2mbit"
      tc -n "$ns" qdisc replace dev eth1 root tbf rate "$arg" burst 16kb latency 400ms
      tc -n "$SL_RUN-sw" qdisc replace dev "$port" root tbf rate "$arg" burst 16kb latency 400ms ;;
    loss)
      [[ "$arg" =~ ^[0-9]{1,2}$ ]] || die "loss PERCENT: 0-99"
      ip -n "$ns" link set dev eth1 gso_max_size 1500 gso_max_segs 1
      ip -n "$SL_RUN-sw" link set dev "$port" gso_max_size 1500 gso_max_segs 1
      drop_on_ingress "$ns" eth1 "numgen random mod 100 < $arg drop"
      drop_on_ingress "$SL_RUN-sw" "$port" "numgen random mod 100 < $arg drop" ;;
    only-from)
      [[ "$arg" =~ ^[0-9.]+$ ]] || die "only-from ADDR"
      drop_on_ingress "$ns" eth1 "ip saddr != $arg tcp dport 80 drop" ;;
    clear)
      tc -n "$ns" qdisc del dev eth1 root 2>/dev/null || true
      tc -n "$SL_RUN-sw" qdisc del dev "$port" root 2>/dev/null || true
      ip netns exec "$ns" nft delete table netdev sltest 2>/dev/null || true
      ip netns exec "$SL_RUN-sw" nft delete table netdev "sltest_$host" 2>/dev/null || true ;;
    *) die "condition NAME shape RATE | loss PERCENT | only-from ADDR | clear" ;;
  esac
}

# drop_on_ingress NS IF RULE: one table per host (in the switch, one per port).
drop_on_ingress() {
  local ns=$1 dev=$2 rule=$3 table=sltest
  [ "$ns" = "$SL_RUN-sw" ] && table="sltest_${dev%-eth1}"
  ip netns exec "$ns" nft -f - <<NFT
table netdev $table {
  chain in {
    type filter hook ingress device "$dev" priority 0;
    $rule
  }
}
NFT
}

down() {
  local ns
  for ns in $(ip netns list | awk '{print $1}' | grep -E "^$SL_RUN-" || true); do
    # Processes left in a namespace would keep its interfaces alive.
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
    case "$ns" in "$SL_RUN"-*) rm -rf "/etc/netns/$ns" ;; esac
  done
}

cmd=${1:-}; shift || true
case "$cmd" in
  up)   SL_RUN=${1:?run name}; valid_run "$SL_RUN"; trap 'down' ERR; up; trap - ERR; print_env ;;
  down) SL_RUN=${1:?run name}; valid_run "$SL_RUN"; down ;;
  env)  SL_RUN=${1:?run name}; valid_run "$SL_RUN"; print_env ;;
  host) : "${SL_RUN:?SL_RUN not set}"; [ $# -ge 2 ] || die "host NAME SEG:ADDR/LEN ..."; make_host "$@" ;;
  condition) : "${SL_RUN:?SL_RUN not set}"; [ $# -ge 2 ] || die "condition NAME WHAT [ARG]"; condition "$@" ;;
  drop) : "${SL_RUN:?SL_RUN not set}"; ns="$SL_RUN-${1:?name}"
        ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
        ip netns del "$ns" ;;
  *) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
