# Sourced by scripts that run the gateway and its callers in private network namespaces.
#
# netns_enter "$0" "$@"   re-executes the calling script (once) in new network, host-name and
#                         mount namespaces, so that ports 5060 and 10000, the host's name and
#                         /etc/hosts are the script's own; loopback comes up.
# netns_caller_start ADDR_GW ADDR_CALLER
#                         makes a second network namespace for the callers, joined to this one
#                         by a veth pair (ADDR_GW here, ADDR_CALLER there, /24, each side's
#                         default route through the other), as two machines on one link.
# in_caller CMD...        runs CMD in the callers' namespace; "${netns_caller[@]}" CMD & does
#                         the same in the background with $! the process of CMD itself.
# netns_use_host NAME ADDR FILE
#                         names this host NAME and makes the name resolve to ADDR (FILE, which
#                         the caller removes, becomes /etc/hosts).
# netns_nat_start ROUTER PHONE
#                         makes a third namespace, a phone behind the callers' one, which
#                         becomes a router that masquerades (nftables) what the phone sends out
#                         and lets in only the answers to it: PHONE/24 there, ROUTER/24 on the
#                         router's side of their link; "${netns_phone[@]}" CMD runs CMD there.
# netns_cleanup           ends the callers' namespace (call it from the script's EXIT trap).

netns_enter() {
    local script=$1
    shift
    if [ -z "${SIPLINE_NETNS_INSIDE:-}" ]; then
        exec unshare --net --uts --mount env SIPLINE_NETNS_INSIDE=1 bash "$script" "$@"
    fi
    ip link set lo up
    mount --make-rprivate /
}

netns_caller_pid=
netns_caller=()

netns_caller_start() {
    local gw=$1 caller=$2
    unshare --net sleep infinity &
    netns_caller_pid=$!
    # The new namespace exists once the child has unshared; its net link differs from ours.
    for _ in $(seq 50); do
        [ "$(readlink /proc/$netns_caller_pid/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
        sleep 0.05
    done
    netns_caller=(nsenter --target "$netns_caller_pid" --net --)
    ip link add sipgw0 type veth peer name sipcall0 netns "$netns_caller_pid"
    ip addr add "$gw/24" dev sipgw0
    ip link set sipgw0 up
    ip route add default via "$caller" dev sipgw0 2>/dev/null || true
    in_caller ip link set lo up
    in_caller ip addr add "$caller/24" dev sipcall0
    in_caller ip link set sipcall0 up
    in_caller ip route add default via "$gw" dev sipcall0
}

in_caller() {
    "${netns_caller[@]}" "$@"
}

netns_use_host() {
    local name=$1 address=$2 hosts=$3
    printf '127.0.0.1 localhost\n%s %s\n' "$address" "$name" >"$hosts"
    hostname "$name"
    mount --bind "$hosts" /etc/hosts
}

netns_phone_pid=
netns_phone=()

netns_nat_start() {
    local router=$1 phone=$2
    unshare --net sleep infinity &
    netns_phone_pid=$!
    for _ in $(seq 50); do
        [ "$(readlink /proc/$netns_phone_pid/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
        sleep 0.05
    done
    netns_phone=(nsenter --target "$netns_phone_pid" --net --)
    in_caller ip link add natin0 type veth peer name natphone0 netns "$netns_phone_pid"
    in_caller ip addr add "$router/24" dev natin0
    in_caller ip link set natin0 up
    in_caller sysctl -qw net.ipv4.ip_forward=1
    in_caller nft -f - <<NFT
table ip nat {
    chain postrouting {
        type nat hook postrouting priority srcnat;
        oifname "sipcall0" masquerade
    }
}
table inet filter {
    chain forward {
        type filter hook forward priority filter;
        iifname "sipcall0" oifname "natin0" ct state established,related accept
        iifname "sipcall0" oifname "natin0" drop
    }
}
NFT
    "${netns_phone[@]}" ip link set lo up
    "${netns_phone[@]}" ip addr add "$phone/24" dev natphone0
    "${netns_phone[@]}" ip link set natphone0 up
    "${netns_phone[@]}" ip route add default via "$router" dev natphone0
}

netns_cleanup() {
    if [ -n "$netns_phone_pid" ]; then
        kill "$netns_phone_pid" 2>/dev/null
        wait "$netns_phone_pid" 2>/dev/null
        netns_phone_pid=
    fi
    if [ -n "$netns_caller_pid" ]; then
        kill "$netns_caller_pid" 2>/dev/null
        wait "$netns_caller_pid" 2>/dev/null
        netns_caller_pid=
    fi
}

# netns_bridge_start ADDR  makes the bridge hunt0 in this namespace, ADDR/24 on it.
# netns_node_start I ADDR NAME HOSTS
#                         makes node I: new network, host-name and mount namespaces joined to
#                         hunt0 by a veth pair, ADDR/24 there with its default route through
#                         the bridge's address; the node calls itself NAME and NAME resolves to
#                         ADDR there (HOSTS, which the caller removes, becomes its /etc/hosts).
# in_node I CMD...        runs CMD in node I.
# netns_nodes_cleanup     ends every node (call it from the script's EXIT trap).

declare -A netns_node_pid=()
netns_bridge_address=

netns_bridge_start() {
    netns_bridge_address=$1
    ip link add hunt0 type bridge
    ip addr add "$1/24" dev hunt0
    ip link set hunt0 up
}

netns_node_start() {
    local i=$1 address=$2 name=$3 hosts=$4 pid
    unshare --net --uts --mount --propagation private sleep infinity &
    pid=$!
    netns_node_pid[$i]=$pid
    for _ in $(seq 50); do
        [ "$(readlink /proc/$pid/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
        sleep 0.05
    done
    ip link add "hunt$i" type veth peer name eth0 netns "$pid"
    ip link set "hunt$i" master hunt0 up
    printf '127.0.0.1 localhost\n%s %s\n' "$address" "$name" >"$hosts"
    in_node "$i" ip link set lo up
    in_node "$i" ip addr add "$address/24" dev eth0
    in_node "$i" ip link set eth0 up
    in_node "$i" ip route add default via "$netns_bridge_address" dev eth0
    in_node "$i" hostname "$name"
    in_node "$i" mount --bind "$hosts" /etc/hosts
}

in_node() {
    local i=$1
    shift
    nsenter --target "${netns_node_pid[$i]}" --net --uts --mount -- "$@"
}

netns_nodes_cleanup() {
    local i
    for i in "${!netns_node_pid[@]}"; do
        kill "${netns_node_pid[$i]}" 2>/dev/null
        wait "${netns_node_pid[$i]}" 2>/dev/null
    done
    netns_node_pid=()
}
