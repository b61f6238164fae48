#!/usr/bin/env bash
# A million RTP packets from 10,000 sources thrown at a connected call (sipline with the
# simulated board, in private namespaces): each source sends in sequence, with an SDES, so that
# the RTP engine must take every one as a member. Reports how long the flood took, how many
# datagrams the kernel dropped on the gateway's RTP port, the gateway's RSS, threads and CPU
# before, at the peak and after, and the call's outgoing RTP: packets a second and largest gap.
# Each call then ends by its BYE; FLOOD_CALLS such calls, then a plain call must work.
# Usage: bench/media_flood.sh [build folder]
#        (FLOOD_SOURCES=10000 FLOOD_PACKETS=1000000 FLOOD_CALLS=3 FLOOD_CALL_MS=30000)
# The namespaces run this script again without its arguments; the folder comes back in the
# environment.
export SIPLINE_BUILD=$(realpath "${1:-${SIPLINE_BUILD:-build}}")
export SIPLINE_SOURCE=$(realpath "$(dirname "$0")/..")
. "$SIPLINE_SOURCE/gateway/tests/e2e_lib.sh"
e2e_start
sources=${FLOOD_SOURCES:-10000}
packets=${FLOOD_PACKETS:-1000000}
call_ms=${FLOOD_CALL_MS:-30000}
# Several flooded calls tell memory the gateway keeps for reuse from memory it loses.
calls=${FLOOD_CALLS:-3}

# Datagrams the kernel dropped on a full receive buffer of local port 10000 (hex 2710).
drops() {
    awk '$2 ~ /:2710$/ {d += $NF} END {print d + 0}' /proc/net/udp
}

# flooded_call N: call N, with the flood thrown at it once connected.
flooded_call() {
    echo "== call $1: $packets packets from $sources sources during the connected call"
    capture_start 4000
    sipp_limit=$((call_ms / 1000 + 60))
    sipp_start call "555050$1" -p 5071 -d "$call_ms" -timeout $((call_ms / 1000 + 60))
    wait_for "$work/out" "Exiting ST_TXDIAL" "$1"
    figures "call connected"
    : > "$work/samples"
    local before
    before=$(drops)
    python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 $((call_ms / 1000 - 4)) \
        "sources=$sources/$packets" > "$work/peer.out" 2>&1 &
    local peer=$!
    while kill -0 "$peer" 2>/dev/null; do
        awk '/^VmRSS:/ {r = $2} /^Threads:/ {t = $2} END {print r + 0, t + 0}' \
            "/proc/$gateway/status" >> "$work/samples" 2>/dev/null
        sleep 0.2
    done
    wait "$peer" 2>/dev/null
    cat "$work/peer.out"
    grep -q "phase sources=" "$work/peer.out" || fail "the peer did not get through the flood"
    kill -0 "$gateway" 2>/dev/null || fail "sipline died under the flood"
    echo "kernel drops on port 10000: $(($(drops) - before)) datagrams"
    figures "after the flood"
    echo "gateway peaks during the flood: $(awk '$1 > r {r = $1} $2 > t {t = $2}
        END {printf "RSS %d kB, threads %d", r, t}' "$work/samples")"
    sipp_wait "call $1 under the flood did not end by its BYE"
    wait_for "$work/out" "IODONE fininshed" "$1"
    capture_stop
    local sent span gap
    read -r sent span gap < <(capture_gaps)
    echo "call's outgoing RTP: $sent packets in $span s ($(awk -v p="$sent" -v s="$span" \
        'BEGIN {printf "%.1f", p / s}') a second), largest gap $gap ms"
    idle "$1" "after flooded call $1"
    figures "idle after call $1"
}

figures "idle at the start"
for n in $(seq "$calls"); do
    flooded_call "$n"
done

echo "== the next call works"
python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 4 > "$work/peer.out" 2>&1 &
sipp_run call 5550599 -p 5071 -d 1500 || fail "the call after the floods"
idle $((calls + 1)) "after the next call"
figures "idle at the end"
e2e_finish "media flood"
