#!/usr/bin/env bash
# Calls through the Kamailio hunt group (deploy/kamailio/hunt.cfg) against the same calls sent
# straight to one gateway. Reports, for each run, the time from INVITE to 200 at the caller
# (p50, p99: SIPp's response times, which include dialling the simulated line), what the proxy
# adds to it (tshark on the proxy's side: caller's INVITE to caller's 200, less the gateway's
# INVITE to its 200; p50, p99), the calls set up per second and the failures. Runs:
#   direct, 1 at a time       one gateway, the next call once the line is back on-hook
#   proxy, 1 at a time        the same through the proxy (gateway 1 takes every call)
#   proxy, group, 3 at a time three calls at a time, each waiting as above: three lines' rate
#   ..., no wait              each caller starts again at once: the proxy hunts past lines
#                             that are still going on-hook, and refuses 486 when all are
# Private network namespaces (scripts/netns.sh, scripts/hunt_lib.sh); needs root.
# Usage: bench/hunt_bench.sh [build folder] [calls per run] [hold ms] [gap ms]
set -uo pipefail
source=$(realpath "${SIPLINE_SOURCE:-$(dirname "$0")/..}")
build=$(realpath "${1:-${SIPLINE_BUILD:-build}}")
export SIPLINE_BUILD=$build SIPLINE_SOURCE=$source
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
. "$source/scripts/hunt_lib.sh"

calls=${2:-20}
hold=${3:-200}
gap=${4:-1500}
caller_port=5090
work=$(mktemp -d /tmp/sipline-hunt-bench-XXXXXX)
capture=
cleanup() {
    [ -n "$capture" ] && kill "$capture" 2>/dev/null && wait "$capture" 2>/dev/null
    hunt_down
    rm -rf "$work"
}
trap cleanup EXIT

hunt_up 3 "$work" "$build" "$source" || exit 1

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}
# percentile P FILE: the P-th percentile (nearest rank) of the numbers in FILE, one a line.
percentile() {
    sort -n "$2" | awk -v p="$1" '{ v[NR] = $1 } END {
        if (NR == 0) { print "-"; exit }
        i = int(NR * p / 100 + 0.999999); if (i < 1) i = 1; if (i > NR) i = NR
        printf "%.1f", v[i] }'
}
# proxy_added PCAP: per call answered 200, (caller's 200 - caller's INVITE) - (gateway's 200 -
# the INVITE the proxy sent that gateway), in ms, one a line. Every packet may be seen more than
# once on "any" (loopback): the first sighting counts.
proxy_added() {
    tshark -r "$1" -Y 'sip.CSeq.method == "INVITE"' -T fields \
        -e frame.time_epoch -e ip.src -e ip.dst -e udp.srcport -e udp.dstport -e sip.Call-ID \
        -e sip.Method -e sip.Status-Code 2>/dev/null |
        awk -F'\t' -v proxy="$HUNT_PROXY" -v port="$caller_port" '
        {
            t = $1 * 1000; src = $2; dst = $3; sport = $4; dport = $5; id = $6; m = $7; code = $8
            if (m == "INVITE" && sport == port && !(id in a)) { a[id] = t }
            else if (m == "INVITE" && src == proxy && dst != proxy && !((id, dst) in b)) { b[id, dst] = t }
            else if (code == "200" && dst == proxy && src != proxy && !(id in c)) { c[id] = t; gw[id] = src }
            else if (code == "200" && dport == port && !(id in d)) { d[id] = t }
        }
        END {
            for (id in d) if ((id in a) && (id in c) && ((id, gw[id]) in b))
                printf "%.3f\n", (d[id] - a[id]) - (c[id] - b[id, gw[id]])
        }'
}
# run NAME TARGET LIMIT CALLS GAP: CALLS calls, at most LIMIT at once, each caller waiting GAP ms
# after a call before its next.
run() {
    local name=$1 target=$2 limit=$3 count=$4 pause=$5 dir=$work/$1 start elapsed ok failed added
    dir=$work/${name//[^a-z0-9]/_}
    mkdir -p "$dir"
    sed "s/GAP_MS/$pause/" "$source/bench/hunt_call.xml" >"$dir/call.xml"
    dumpcap -q -i any -f "udp port 5060 or udp port $caller_port" -w "$dir/sip.pcapng" \
        >"$dir/dumpcap.log" 2>&1 &
    capture=$!
    sleep 1
    start=$(now_ms)
    (cd "$dir" && exec timeout $((count * 5 + 60)) sipp -sf call.xml -s 5550100 "$target" \
        -i "$HUNT_PROXY" -p "$caller_port" -mi "$HUNT_PROXY" -mp 6100 -r 100 -l "$limit" \
        -m "$count" -d "$hold" -nostdin -timeout $((count * 5 + 30)) -trace_rtt -rtt_freq 1 \
        -trace_screen -screen_file screen.log >sipp.out 2>&1)
    elapsed=$(($(now_ms) - start - pause))
    sleep 0.5
    kill "$capture" 2>/dev/null
    wait "$capture" 2>/dev/null
    capture=
    awk -F';' '$3 == "setup" { print $2 }' "$dir"/*_rtt.csv >"$dir/setup.ms" 2>/dev/null
    : >"$dir/added.ms"
    [ "$target" = "$HUNT_PROXY:5060" ] && proxy_added "$dir/sip.pcapng" >"$dir/added.ms"
    ok=$(awk -F'|' '/Successful call/ { gsub(/ /, "", $3); print $3 }' "$dir/screen.log" | tail -n 1)
    failed=$(awk -F'|' '/Failed call/ { gsub(/ /, "", $3); print $3 }' "$dir/screen.log" | tail -n 1)
    if [ -s "$dir/added.ms" ]; then
        added="$(percentile 50 "$dir/added.ms") / $(percentile 99 "$dir/added.ms")"
    else
        added="-"
    fi
    printf '%-26s %4s ok %3s failed | INVITE-200 p50 %6s p99 %6s ms | proxy adds p50/p99 %13s ms | %5.2f calls/s\n' \
        "$name" "${ok:-0}" "${failed:-?}" "$(percentile 50 "$dir/setup.ms")" \
        "$(percentile 99 "$dir/setup.ms")" "$added" \
        "$(awk -v n="${ok:-0}" -v ms="$elapsed" 'BEGIN { print (ms > 0) ? n * 1000 / ms : 0 }')"
}
echo "$calls calls a run (the group: $((calls * 3))), each held $hold ms; 1-at-a-time callers wait $gap ms between calls"
run "direct, 1 at a time" "$(hunt_gateway_address 1):5060" 1 "$calls" "$gap"
run "proxy, 1 at a time" "$HUNT_PROXY:5060" 1 "$calls" "$gap"
run "proxy, group, 3 at a time" "$HUNT_PROXY:5060" 3 $((calls * 3)) "$gap"
run "..., no wait" "$HUNT_PROXY:5060" 3 $((calls * 3)) 0
