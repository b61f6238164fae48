#!/usr/bin/env bash
# Soak of the whole gateway: sipline with the simulated board in private network, host-name and
# mount namespaces, and N short SIP calls in a row (default 200), each ended, drawn at random
# (a fixed seed), by the caller's BYE, the line's hang-up, a CANCEL before the 200, an RTCP BYE
# of the caller's media or a BYE with no ACK at all. Reports the gateway's resident
# memory, thread count and open descriptors after the first call, every 50th and the last; any call
# that fails is counted and named.
# Usage: bench/calls_soak.sh [build folder] [calls]
set -uo pipefail
build=$(realpath "${1:-build}")
calls=${2:-200}
source=$(realpath "$(dirname "$0")/..")
# shellcheck source=scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$build" "$calls"
work=$(mktemp -d /tmp/sipline-soak-XXXXXX)
scenarios=$source/gateway/tests/sipp
gateway=
cleanup() {
    [ -n "$gateway" ] && kill -KILL "$gateway" 2>/dev/null
    jobs -p | xargs -r kill 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
netns_use_host gw 127.0.0.1 "$work/hosts"

# Waits up to 20 s until a fixed text has appeared N times in the gateway's output.
seen() {
    for _ in $(seq 200); do
        [ "$(grep -cF -- "$1" "$work/out")" -ge "$2" ] && return 0
        sleep 0.1
    done
    return 1
}
sipp_call() {
    timeout 60 sipp -sf "$scenarios/$1.xml" -s "$2" 127.0.0.1:5060 -m 1 -l 1 -d 100 -p 5071 \
        -nostdin -timeout 40 -timeout_error > /dev/null 2>&1
}
RANDOM=1000
figures() {
    local rss anon threads fds
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$gateway/status")
    anon=$(awk '/^RssAnon/ {print $2}' "/proc/$gateway/status")
    threads=$(awk '/^Threads/ {print $2}' "/proc/$gateway/status")
    fds=$(ls "/proc/$gateway/fd" | wc -l)
    printf '%-16s RSS %6d kB (anonymous %5d kB)   threads %3d   descriptors %3d\n' \
        "after call $1:" "$rss" "$anon" "$threads" "$fds"
}

: > "$work/out"
(cd "$work" && exec "$build/bin/sipline" > "$work/out" 2> "$work/err") &
gateway=$!
seen "Creating OutTh" 1 || { echo "sipline did not start"; exit 1; }

failed=0
connected=0
started=$(date +%s)
for call in $(seq "$calls"); do
    ok=1
    case $((RANDOM % 5)) in
        1) sipp_call call "555$call" || ok=0; connected=$((connected + 1)) ;;
        3)
            sipp_call answered "555$call" || ok=0
            connected=$((connected + 1))
            python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 1.5 rtcp_bye \
                > /dev/null 2>&1 || ok=0
            ;;
        4) sipp_call bye_before_ack "555$call" || ok=0; connected=$((connected + 1)) ;;
        2)
            sipp_call line_hangup "555$call" &
            caller=$!
            connected=$((connected + 1))
            if seen "Exiting ST_TXDIAL" "$connected"; then
                printf 'hangup\n' | socat -t 2 - "UNIX-CONNECT:$work/boardsim.sock" > /dev/null
            fi
            wait "$caller" || ok=0
            ;;
        0) sipp_call cancel "555$call" || ok=0 ;;
    esac
    seen "Globals inited" "$call" || ok=0
    case $call in 10 | "$calls") sleep 0.5; figures "$call" > "$work/figures.$call" ;; esac
    if [ "$ok" -eq 0 ]; then
        failed=$((failed + 1))
        echo "call $call failed"
    fi
    if [ "$call" -eq 1 ] || [ $((call % 50)) -eq 0 ] || [ "$call" -eq "$calls" ]; then
        sleep 0.5
        figures "$call"
    fi
done
echo "$calls calls in $(($(date +%s) - started)) s, $failed failed"
if [ "$calls" -ge 10 ]; then
    # The figures after call 10 and after the last must be the same: nothing grows per call.
    a=$(sed 's/(anonymous *[0-9]* kB)//; s/.*RSS *//' "$work/figures.10")
    b=$(sed 's/(anonymous *[0-9]* kB)//; s/.*RSS *//' "$work/figures.$calls")
    echo "after call 10: $a"
    echo "after call $calls: $b"
fi
grep -q "Service unavailable to:INVITE" "$work/out" && echo "an INVITE was refused 503" && failed=$((failed + 1))
[ "$failed" -eq 0 ]
