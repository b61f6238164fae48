#!/usr/bin/env bash
# Three gateways behind Kamailio (deploy/kamailio/hunt.cfg), each in its own network namespace
# with its own simulated line; SIPp callers on the proxy's side.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
export SIPLINE_BUILD=$build SIPLINE_SOURCE=$source
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
. "$source/scripts/hunt_lib.sh"

work=$(mktemp -d /tmp/sipline-hunt-XXXXXX)
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
control() {
    printf '%s\n' "$2" | socat -t 2 - "UNIX-CONNECT:$work/gw$1/boardsim.sock"
}
status_of() {
    control "$1" status | tr ' ' '\n' | sed -n "s/^$2=//p"
}
# Waits up to 10 s until line I's status shows KEY=VALUE.
wait_status() {
    for _ in $(seq 100); do
        [ "$(status_of "$1" "$2")" = "$3" ] && return 0
        sleep 0.1
    done
    fail "$4: line $1 $2=$(status_of "$1" "$2"), not $3"
    return 1
}
# caller NAME PORT NUMBER [options...]: the scenario's call must succeed.
caller() {
    local name=$1 port=$2 number=$3
    shift 3
    if ! timeout 60 sipp -sf "$scenarios/$name.xml" -s "$number" "$HUNT_PROXY:5060" -i "$HUNT_PROXY" \
        -p "$port" -m 1 -l 1 -nostdin -timeout 40 -timeout_error -trace_err \
        -error_file "$work/$name-$port.err" "$@" >"$work/$name-$port.out" 2>&1; then
        fail "$name $number from port $port: $(tail -n 15 "$work/$name-$port.err" 2>/dev/null)"
        return 1
    fi
}
now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

hunt_up 3 "$work" "$build" "$source" || exit 1

echo "== three calls at once land on three lines; a fourth is refused by the proxy"
callers=()
for i in 1 2 3; do
    caller call $((5070 + i)) 555100$i -d $((3000 + 1500 * i)) &
    callers[$i]=$!
    wait_status "$i" dialled 555100$i "call $i"
    wait_status "$i" line connected "call $i"
done
grep -q "^SIP/2.0 503" "$work/gw1/out" || fail "the busy first gateway sent no 503"
[ "$(grep -c 'hunt: INVITE moves on' "$work/kamailio.log")" -ge 3 ] ||
    fail "the proxy did not move on past the busy gateways"
caller refused 5074 5551004 || fail "the fourth caller was not refused"
[ "$(grep -c "^SIP/2.0 503" "$work/gw3/out")" -ge 1 ] || fail "the fourth INVITE did not try the last line"

echo "== each caller's BYE ends its own call"
wait "${callers[1]}" || fail "call 1"
wait_status 1 hook on "after call 1's BYE"
[ "$(status_of 2 line)" = connected ] || fail "call 1's BYE ended line 2's call"
[ "$(status_of 3 line)" = connected ] || fail "call 1's BYE ended line 3's call"
wait "${callers[2]}" || fail "call 2"
wait_status 2 hook on "after call 2's BYE"
[ "$(status_of 3 line)" = connected ] || fail "call 2's BYE ended line 3's call"
wait "${callers[3]}" || fail "call 3"
wait_status 3 hook on "after call 3's BYE"

echo "== the line's party hangs up: the gateway's BYE goes back through the proxy"
caller line_hangup 5075 5552001 &
hangup=$!
wait_status 1 line connected "the call to be hung up"
control 1 hangup >/dev/null
wait "$hangup" || fail "the gateway's BYE through the proxy"
wait_status 1 hook on "after the line's hang-up"

echo "== a stopped gateway costs the caller the time-out, no more"
hunt_gateway_stop 1
start=$(now_ms)
caller call 5076 5553001 -d 200 || fail "a call with the first gateway down"
elapsed=$(($(now_ms) - start))
[ "$(status_of 2 dialled)" = 5553001 ] || fail "the call did not move on to line 2"
[ "$elapsed" -ge 2000 ] && [ "$elapsed" -le 4500 ] ||
    fail "a down gateway cost ${elapsed} ms, not the 2 s time-out"
echo "   with line 1 down the call took $elapsed ms"
wait_status 2 hook on "after the call on line 2"

echo "== CANCEL while dialling reaches the gateway that dials"
hunt_gateway_start 1 || fail "gateway 1 did not start again"
caller cancel 5077 5554001 || fail "CANCEL through the proxy"
grep -q "Sending 487 response" "$work/gw1/out" || fail "gateway 1 did not end the INVITE with 487"
grep -q "Sending 487 response" "$work/gw2/out" "$work/gw3/out" && fail "a CANCEL reached another gateway"
wait_status 1 hook on "after the CANCEL"

echo "hunt: $failures failure(s)"
[ "$failures" -eq 0 ]
