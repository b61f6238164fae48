#!/usr/bin/env bash
# Three gateways behind Kamailio (deploy/kamailio/hunt.cfg), each in its own network namespace
# with its own simulated line; SIPp callers on the proxy's side. The three callers that hold
# all the lines at once each stream their own tone, measured on the line it reached.
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
# Waits up to 10 s until line I's status shows KEY=VALUE.
wait_status() {
    for _ in $(seq 100); do
        [ "$(hunt_status "$1" "$2")" = "$3" ] && return 0
        sleep 0.1
    done
    fail "$4: line $1 $2=$(hunt_status "$1" "$2"), not $3"
    return 1
}
# caller NAME PORT NUMBER [options...]: the scenario's call must succeed. Runs in
# $work/caller-PORT, where call_tone finds its tone.ulaw.
caller() {
    local name=$1 port=$2 number=$3
    shift 3
    mkdir -p "$work/caller-$port"
    if ! (cd "$work/caller-$port" && exec timeout 60 sipp -sf "$scenarios/$name.xml" \
        -s "$number" "$HUNT_PROXY:5060" -i "$HUNT_PROXY" \
        -p "$port" -m 1 -l 1 -nostdin -timeout 40 -timeout_error -trace_err \
        -error_file "$work/$name-$port.err" "$@" >"$work/$name-$port.out" 2>&1); then
        fail "$name $number from port $port: $(tail -n 15 "$work/$name-$port.err" 2>/dev/null)"
        return 1
    fi
}
# setup_ms PORT: the INVITE to 200 time (ms) of the last call from PORT run with -trace_rtt.
setup_ms() {
    cat "$work/caller-$1"/*_rtt.csv 2>/dev/null | awk -F';' '$3 == "setup" { t = $2 } END { print t }'
}

hunt_up 3 "$work" "$build" "$source" || exit 1

# within VALUE LOW HIGH
within() {
    awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'
}

echo "== three calls at once land on three lines, each line hears its caller's tone"
callers=()
tones=(0 500 800 1250)
for i in 1 2 3; do
    mkdir -p "$work/caller-$((5070 + i))"
    sox -n -r 8000 -c 1 -e u-law -t raw "$work/caller-$((5070 + i))/tone.ulaw" \
        synth 2 sine "${tones[$i]}" vol 0.25
    caller call_tone $((5070 + i)) 555100$i -d $((4500 + 1000 * i)) -mi "$HUNT_PROXY" \
        -mp $((6000 + 10 * i)) -trace_rtt -rtt_freq 1 &
    callers[$i]=$!
    wait_status "$i" dialled 555100$i "call $i"
    wait_status "$i" line connected "call $i"
done
# Every line has now been connected for 1.5 s or more: the last 1.5 s of each capture is what
# its party hears while all three calls are up.
sleep 1.5
for i in 1 2 3; do
    hz=$(hunt_heard_hz "$i")
    within "${hz:-0}" $((tones[i] * 98 / 100)) $((tones[i] * 102 / 100)) ||
        fail "line $i heard ${hz:-nothing} Hz, not its caller's ${tones[$i]} Hz"
    echo "   line $i dialled $(hunt_status "$i" dialled) and hears ${hz:-nothing} Hz (sent ${tones[$i]})"
done
echo "== busy gateways answer 503, the proxy moves on; a fourth call is refused by the proxy"
grep -q "^SIP/2.0 503" "$work/gw1/out" || fail "the busy first gateway sent no 503"
[ "$(grep -c 'hunt: INVITE moves on' "$work/kamailio.log")" -ge 3 ] ||
    fail "the proxy did not move on past the busy gateways"
caller refused 5074 5551004 -trace_rtt -rtt_freq 1 || fail "the fourth caller was not refused"
refusal=$(setup_ms 5074)
within "${refusal:-99999}" 0 1500 || fail "the fourth caller waited ${refusal:-?} ms for its 486"
echo "   the fourth caller got 486 All Lines Busy after ${refusal:-?} ms"
[ "$(grep -c "^SIP/2.0 503" "$work/gw3/out")" -ge 1 ] || fail "the fourth INVITE did not try the last line"

echo "== each caller's BYE ends its own call"
wait "${callers[1]}" || fail "call 1"
baseline=$(setup_ms 5071)
wait_status 1 hook on "after call 1's BYE"
[ "$(hunt_status 2 line)" = connected ] || fail "call 1's BYE ended line 2's call"
[ "$(hunt_status 3 line)" = connected ] || fail "call 1's BYE ended line 3's call"
wait "${callers[2]}" || fail "call 2"
wait_status 2 hook on "after call 2's BYE"
[ "$(hunt_status 3 line)" = connected ] || fail "call 2's BYE ended line 3's call"
wait "${callers[3]}" || fail "call 3"
wait_status 3 hook on "after call 3's BYE"

echo "== the line's party hangs up: the gateway's BYE goes back through the proxy to its caller"
caller line_hangup 5075 5552001 &
hangup=$!
wait_status 1 line connected "the call to be hung up"
caller call 5078 5552002 -d 2500 &
other=$!
wait_status 2 line connected "the call that stays up"
hunt_control 1 hangup >/dev/null
wait "$hangup" || fail "the gateway's BYE through the proxy"
wait_status 1 hook on "after the line's hang-up"
[ "$(hunt_status 2 line)" = connected ] || fail "line 1's hang-up ended line 2's call"
wait "$other" || fail "the call on line 2 beside line 1's hang-up"
wait_status 2 hook on "after the call on line 2"

echo "== a stopped gateway costs the caller the time-out, no more"
hunt_gateway_stop 1
caller call 5076 5553001 -d 200 -trace_rtt -rtt_freq 1 || fail "a call with the first gateway down"
[ "$(hunt_status 2 dialled)" = 5553001 ] || fail "the call did not move on to line 2"
# INVITE to 200 against the same with every gateway up (call 1 above, taken by line 1): what
# the down gateway added must be the proxy's 2 s fr_timer, give or take the timer's tick and
# how long each line takes to dial.
down=$(setup_ms 5076)
cost=$(awk -v d="${down:-0}" -v b="${baseline:-0}" 'BEGIN { printf "%d", d - b }')
within "$cost" 1500 2600 ||
    fail "a down gateway cost ${cost} ms (${down:-?} ms against ${baseline:-?} ms), not the 2 s time-out"
echo "   INVITE to 200: ${baseline:-?} ms, ${down:-?} ms with line 1 down: it cost $cost ms"
wait_status 2 hook on "after the call on line 2"

echo "== CANCEL while dialling reaches the gateway that dials"
hunt_gateway_start 1 || fail "gateway 1 did not start again"
caller cancel 5077 5554001 || fail "CANCEL through the proxy"
grep -q "Sending 487 response" "$work/gw1/out" || fail "gateway 1 did not end the INVITE with 487"
grep -q "Sending 487 response" "$work/gw2/out" "$work/gw3/out" && fail "a CANCEL reached another gateway"
wait_status 1 hook on "after the CANCEL"

# Under ASan or TSan a report goes to the gateway's standard error, and the process may go on.
for i in 1 2 3; do
    grep -q "Sanitizer" "$work/gw$i/err" && fail "gateway $i: $(grep -m 1 "Sanitizer" "$work/gw$i/err")"
done

echo "hunt: $failures failure(s)"
[ "$failures" -eq 0 ]
