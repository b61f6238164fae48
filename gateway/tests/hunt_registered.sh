#!/usr/bin/env bash
# The hunt group with registration (deploy/kamailio/hunt_registrar.cfg): two gateways register
# to Kamailio under one AOR, each in its own namespace; a call takes one line, a second call
# while it holds lands on the other (the busy one answers 503, or the random order tries the
# free one first); each line dials the number of its call; at the end both unregister.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
export SIPLINE_BUILD=$build SIPLINE_SOURCE=$source
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
. "$source/scripts/hunt_lib.sh"

work=$(mktemp -d /tmp/sipline-hunt-registered-XXXXXX)
scenarios=$source/gateway/tests/sipp/hunt
cleanup() {
    hunt_down
    jobs -p | xargs -r kill 2>/dev/null || true
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# line_dialling NUMBER: the line (1 or 2) whose status shows it dialled NUMBER, within 10 s.
line_dialling() {
    for _ in $(seq 100); do
        for i in 1 2; do
            [ "$(hunt_status "$i" dialled)" = "$1" ] && echo "$i" && return 0
        done
        sleep 0.1
    done
    return 1
}
caller() {
    local name=$1 port=$2 number=$3
    shift 3
    timeout 60 sipp -sf "$scenarios/$name.xml" -s "$number" "$HUNT_PROXY:5060" -i "$HUNT_PROXY" \
        -p "$port" -m 1 -l 1 -nostdin -timeout 40 -timeout_error -trace_err \
        -error_file "$work/$name-$port.err" "$@" >"$work/$name-$port.out" 2>&1 ||
        { fail "$name $number from port $port: $(tail -n 15 "$work/$name-$port.err" 2>/dev/null)"; return 1; }
}

HUNT_REGISTER=1 hunt_up 2 "$work" "$build" "$source" || exit 1

echo "== both gateways register under the one AOR"
for i in 1 2; do
    for _ in $(seq 150); do
        grep -q "Registration: registered as sip:line@$HUNT_PROXY" "$work/gw$i/out" && break
        sleep 0.1
    done
    grep -q "Registration: registered as sip:line@$HUNT_PROXY" "$work/gw$i/out" ||
        fail "gateway $i did not register: $(grep -a Registration "$work/gw$i/err" | tail -n 2)"
done

echo "== two calls at once: one line each, each dials its own number"
caller call 5071 5551001 -d 6000 &
first=$!
one=$(line_dialling 5551001) || fail "no line dialled 5551001"
caller call 5072 5551002 -d 1000 &
second=$!
two=$(line_dialling 5551002) || fail "no line dialled 5551002"
[ -n "${one:-}" ] && [ "${one:-}" != "${two:-}" ] || fail "both calls on line ${one:-?}"
wait "$second" || fail "the second call"
wait "$first" || fail "the first call"
echo "ok: 5551001 on line ${one:-?}, 5551002 on line ${two:-?}"

echo "== the gateways end: both bindings go"
for i in 1 2; do
    hunt_gateway_stop "$i"
    grep -q "Registration: unregistered sip:line@$HUNT_PROXY" "$work/gw$i/out" ||
        fail "gateway $i did not unregister: $(grep -a "Registration\|Ending\|Cleaning" "$work/gw$i/out" "$work/gw$i/err" | tail -n 4)"
done

if [ "$failures" -ne 0 ]; then
    echo "--- kamailio (hunt)"; grep -a "hunt:" "$work/kamailio.log" | tail -n 20
    exit 1
fi
echo "hunt_registered: all passed"
