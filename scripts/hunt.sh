#!/usr/bin/env bash
# A hunt group on this machine: N gateways (default 3), each in its own network namespace with
# its own simulated line, behind Kamailio at 10.77.0.1:5060.
#   scripts/hunt.sh start [N]   brings it up in the background (state in build/hunt)
#   scripts/hunt.sh stop        ends it
#   scripts/hunt.sh exec CMD... runs CMD beside the proxy (callers reach it at 10.77.0.1:5060)
#   scripts/hunt.sh demo        three SIPp calls at once on three lines, each caller saying a
#                               tone that its line hears, a fourth refused
# Line I's control socket is build/hunt/gwI/boardsim.sock (socat, as for one gateway).
set -uo pipefail
source=$(realpath "${SIPLINE_SOURCE:-$(dirname "$0")/..}")
build=$(realpath "${SIPLINE_BUILD:-$source/build}")
state=$build/hunt
export SIPLINE_SOURCE=$source SIPLINE_BUILD=$build
command=${1:-}
. "$source/scripts/netns.sh"

run_group() {
    netns_enter "$0" _run "$@"
    . "$source/scripts/hunt_lib.sh"
    sleeper=
    trap 'hunt_down; [ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null; rm -f "$state/pid"' EXIT
    trap 'exit 0' TERM INT
    hunt_up "${2:-3}" "$state" "$build" "$source" || exit 1
    echo up >"$state/ready"
    sleep infinity &
    sleeper=$!
    wait "$sleeper"
}

proxy_side() {
    # The group's outermost process is the re-executed script in the proxy's namespaces; the
    # command keeps this working folder, so that relative paths work as they do outside.
    nsenter --target "$(cat "$state/pid")" --net --uts --mount --wd="$PWD" -- "$@"
}

case $command in
start)
    [ -f "$state/pid" ] && kill -0 "$(cat "$state/pid")" 2>/dev/null && { echo "hunt: already running"; exit 0; }
    rm -rf "$state" && mkdir -p "$state"
    setsid bash "$0" _run "${2:-3}" >"$state/log" 2>&1 &
    echo $! >"$state/pid"
    for _ in $(seq 150); do
        [ -f "$state/ready" ] && { echo "hunt: ${2:-3} gateways behind Kamailio at 10.77.0.1:5060"; exit 0; }
        kill -0 "$(cat "$state/pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "hunt: did not start:" >&2
    tail -n 20 "$state/log" >&2
    exit 1
    ;;
_run) shift; run_group "$@" ;;
stop)
    [ -f "$state/pid" ] || exit 0
    pid=$(cat "$state/pid")
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    rm -f "$state/pid"
    echo "hunt: stopped"
    ;;
exec) shift; proxy_side "$@" ;;
demo)
    "$0" start 3 || exit 1
    trap '"$0" stop' EXIT
    . "$source/scripts/hunt_lib.sh"
    hunt_work=$state hunt_build=$build
    scenarios=$source/gateway/tests/sipp/hunt
    tones=(0 500 800 1250)
    for i in 1 2 3; do
        echo "caller $i dials 555000$i and says ${tones[$i]} Hz"
        mkdir -p "$state/caller$i"
        sox -n -r 8000 -c 1 -e u-law -t raw "$state/caller$i/tone.ulaw" synth 2 sine "${tones[$i]}" vol 0.25
        (cd "$state/caller$i" && proxy_side sipp -sf "$scenarios/call_tone.xml" -s 555000$i \
            10.77.0.1:5060 -i 10.77.0.1 -p $((5070 + i)) -mi 10.77.0.1 -mp $((6000 + 10 * i)) \
            -m 1 -d 6000 -nostdin -timeout 30 >/dev/null 2>&1) &
        sleep 1.5
    done
    sleep 1
    for i in 1 2 3; do
        printf 'line %d: ' "$i"
        printf 'status\n' | socat -t 2 - "UNIX-CONNECT:$state/gw$i/boardsim.sock"
        printf 'line %d hears %s Hz\n' "$i" "$(hunt_heard_hz "$i")"
    done
    echo "caller 4 dials 5550004 while every line is busy:"
    proxy_side sipp -sf "$scenarios/refused.xml" -s 5550004 10.77.0.1:5060 -i 10.77.0.1 \
        -p 5074 -m 1 -nostdin -timeout 15 >/dev/null 2>&1 &&
        echo "caller 4: refused 486 All Lines Busy by the proxy" || echo "caller 4: not refused"
    wait
    echo "the three calls ended"
    ;;
*) sed -n 2,9p "$0"; exit 2 ;;
esac
