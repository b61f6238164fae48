#!/usr/bin/env bash
# Session timers (RFC 4028) with SIPp on another machine. Three lanes, each a gateway with its
# callers in namespaces of its own, run side by side so that the waits of their timers overlap:
# lane a, calls from SIP:
#   Session-Expires below the gateway's minimum: 422 with Min-SE 90, the line untouched;
#   Session-Expires 90 with the gateway as refresher, from a caller that allows UPDATE: its
#     UPDATE comes at about 45 s;
#   a caller that refreshes once and then stops: the gateway's BYE comes before the interval
#     has run out, and the line goes on-hook;
# lane b:
#   the same from a caller whose Allow has no UPDATE: a re-INVITE with the session as it stands
#     (the 200's o= version) at about 45 s; refused 500, it is acknowledged and tried again
#     about 4 s later; the second's 200 is acknowledged and the call goes on;
#   a call from the line to a callee that answers 422 with Min-SE 90: the INVITE comes again
#     asking for 90 s; the callee's 200 makes the gateway the refresher, and its UPDATE comes at
#     about 45 s;
# lane c:
#   a call from the line: a 422 with a Min-SE beyond a day: the INVITE comes again asking for no
#     timer; a 200 whose Session-Expires is no number: the call goes on without a timer;
#   the gateway's UPDATE answered 481 (a caller that lost the call): its BYE at once, the line
#     on-hook;
#   a callee that is the refresher and never refreshes: the gateway's BYE and the line on-hook
#     before the interval runs out.
set -uo pipefail
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
if [ -z "${SIPLINE_TIMER_LANE:-}" ]; then
    logs=$(mktemp -d /tmp/sipline-gw-timers-lanes-XXXXXX)
    pids=()
    for lane in b c; do
        SIPLINE_TIMER_LANE=$lane bash "$0" "$@" >"$logs/$lane" 2>&1 &
        pids+=($!)
    done
    SIPLINE_TIMER_LANE=a bash "$0" "$@"
    status=$?
    for pid in "${pids[@]}"; do
        wait "$pid" || status=1
    done
    for lane in b c; do
        sed "s/^/[lane $lane] /" "$logs/$lane"
    done
    rm -rf "$logs"
    exit $status
fi
lane=$SIPLINE_TIMER_LANE
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d "/tmp/sipline-gw-timers-$lane-XXXXXX")
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
dumpcap_pid=
failures=0
callee_pid=
cleanup() {
    [ -n "$callee_pid" ] && kill "$callee_pid" 2>/dev/null && wait "$callee_pid" 2>/dev/null
    [ -n "$dumpcap_pid" ] && kill "$dumpcap_pid" 2>/dev/null && wait "$dumpcap_pid" 2>/dev/null
    gateway_stop
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
sipp_caller() {
    local scenario=$1 number=$2
    shift 2
    (cd "$work" && exec "${netns_caller[@]}" timeout 150 sipp \
        -sf "$source_dir/gateway/tests/sipp/$scenario.xml" -s "$number" "$gateway_address:5060" \
        -i "$caller_address" -mi "$caller_address" -m 1 -l 1 -nostdin -timeout 120 -timeout_error \
        -trace_err -error_file "$work/${scenario//\//_}.err" "$@" >"$work/${scenario//\//_}.out" 2>&1)
}
# sipp_callee SCENARIO NUMBER PORT: SIPp answers the gateway's call to directory entry NUMBER at
# PORT, in the background ($callee_pid).
sipp_callee() {
    local scenario=$1 number=$2 port=$3
    (cd "$work" && exec "${netns_caller[@]}" timeout 150 sipp \
        -sf "$source_dir/gateway/tests/sipp/$scenario.xml" -s "$number" -i "$caller_address" \
        -mi "$caller_address" -p "$port" -mp $((16000 + (port - 5090) * 10)) -m 1 -nostdin -timeout 120 \
        -timeout_error -trace_err -error_file "$work/${scenario//\//_}.err" \
        >"$work/${scenario//\//_}.out" 2>&1) &
    callee_pid=$!
    sleep 0.5
}
sipp_failed() {
    echo "$1: $(tail -n 8 "$work/${1//\//_}.err" 2>/dev/null)"
}
# line_calls NUMBER: the line rings, its party waits for the prompt and dials NUMBER.
line_cycles=0
line_calls() {
    [ "$(line_do ring)" = "OK ringing" ] || fail "line call to $1: the ring was not taken"
    for _ in $(seq 50); do
        [ "$(grep -c '^Enter number to call' "$gateway_dir/err")" -gt "$line_cycles" ] && break
        sleep 0.1
    done
    line_do "digits $1#" >/dev/null
    line_cycles=$((line_cycles + 1))
}
callee_passed() {
    wait "$callee_pid" || fail "$1: $(sipp_failed "$2")"
    callee_pid=
}
# times FILTER: the times on the wire of the SIP messages matching the display filter FILTER.
times() {
    tshark -r "$work/wire.pcapng" -Y "$1" -T fields -e frame.time_relative 2>/dev/null
}
# seconds_between FIRST SECOND [WHICH]: seconds from the last message matching FIRST to the last
# (WHICH first: the first) one matching SECOND.
seconds_between() {
    local pick="tail -n 1"
    [ "${3:-}" = first ] && pick="head -n 1"
    awk -v a="$(times "$1" | tail -n 1)" -v b="$(times "$2" | $pick)" \
        'BEGIN { if (a == "" || b == "") print -1; else printf "%.1f\n", b - a }'
}

netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
dumpcap -q -i sipgw0 -f 'udp port 5060' -w "$work/wire.pcapng" >/dev/null 2>&1 &
dumpcap_pid=$!
cat >"$work/sipline.toml" <<TOML
[[directory]]
number = "200"
uri = "sip:200@$caller_address:5096"
[[directory]]
number = "201"
uri = "sip:201@$caller_address:5097"
[[directory]]
number = "202"
uri = "sip:202@$caller_address:5098"
TOML
gateway_config=$work/sipline.toml
gateway_start "$work/gateway" || exit 1
sleep 0.5
gw="ip.src == $gateway_address"

case $lane in
a)
    echo "== Session-Expires 30: 422 with Min-SE 90"
    sipp_caller dialog/timer_brief 5550950 -p 5090 -mp 16000 || fail "422: $(sipp_failed dialog/timer_brief)"
    grep -q 'Making Outbound call to 5550950' "$gateway_dir/out" && fail "422: the line was dialled"

    echo "== Session-Expires 90, the gateway refreshes with UPDATE (about 45 s)"
    sipp_caller dialog/timer_uas 5550951 -p 5092 -mp 16010 || fail "refresher uas: $(sipp_failed dialog/timer_uas)"
    line_wait hook on || fail "refresher uas: the line stayed off-hook"
    sleep 0.5
    after=$(seconds_between 'sip.Status-Code == 200 && sip.CSeq.method == "INVITE" && sip.Session-Expires' \
        'sip.Method == "UPDATE"')
    within "$after" 40 50 || fail "refresher uas: the gateway's UPDATE came $after s after the 200, not about 45 s"
    echo "ok: the gateway refreshed $after s after the 200"

    echo "== the caller refreshes once, then stops: the gateway's BYE before the interval runs out"
    sipp_caller dialog/timer_expire 5550952 -p 5094 -mp 16020 || fail "expiry: $(sipp_failed dialog/timer_expire)"
    line_wait hook on || fail "expiry: the line stayed off-hook"
    sleep 0.5
    after=$(seconds_between 'sip.Status-Code == 200 && sip.CSeq.method == "UPDATE"' 'sip.Method == "BYE"')
    within "$after" 55 89.9 || fail "expiry: the gateway's BYE came $after s after the refresh, not between 55 and 90 s"
    echo "ok: the gateway ended the call $after s after the last refresh"
    ;;
b)
    echo "== Session-Expires 90 without UPDATE in Allow: the gateway's re-INVITE (about 45 s), a 500, again"
    sipp_caller dialog/timer_reinvite 5550953 -p 5092 -mp 16010 || fail "re-INVITE: $(sipp_failed dialog/timer_reinvite)"
    line_wait hook on || fail "re-INVITE: the line stayed off-hook"
    sleep 0.5
    ok200="sip.Status-Code == 200 && sip.CSeq.method == \"INVITE\""
    after=$(seconds_between "$gw && $ok200" "$gw && sip.Method == \"INVITE\"" first)
    within "$after" 40 50 || fail "re-INVITE: the gateway's re-INVITE came $after s after the 200, not about 45 s"
    again=$(seconds_between "sip.Status-Code == 500" "$gw && sip.Method == \"INVITE\"")
    within "$again" 3 6 || fail "re-INVITE: tried again $again s after the 500, not about 4 s"
    [ "$(times "$gw && sip.Method == \"ACK\"" | wc -l)" -eq 2 ] ||
        fail "re-INVITE: the gateway sent $(times "$gw && sip.Method == \"ACK\"" | wc -l) ACKs, not 2 (the 500's, the 200's)"
    versions=$(tshark -r "$work/wire.pcapng" -Y "$gw && sdp" -T fields -e sdp.owner.version 2>/dev/null |
        sort -u | wc -l)
    [ "$versions" = 1 ] || fail "re-INVITE: the refresh changed the o= version of the gateway's session"
    grep -q 'Session refresh refused 500: tried again in 4 s' "$gateway_dir/out" ||
        fail "re-INVITE: the 500 was not taken as a refusal to try again"
    echo "ok: re-INVITE $after s after the 200, again $again s after the 500, both acknowledged"

    echo "== a call from the line: 422 with Min-SE 90, then the gateway refreshes with UPDATE (about 45 s)"
    sipp_callee callee/timer_refresh 200 5096
    line_calls 200
    callee_passed "line refresh" callee/timer_refresh
    line_wait hook on || fail "line refresh: the line stayed off-hook"
    after=$(seconds_between 'sip.Status-Code == 200 && sip.CSeq.method == "INVITE" && sip.Session-Expires' \
        "$gw && sip.Method == \"UPDATE\"")
    within "$after" 40 50 || fail "line refresh: the gateway's UPDATE came $after s after the 200, not about 45 s"
    grep -q '422: asking again for a session timer of 90 s' "$gateway_dir/out" ||
        fail "line refresh: the 422 was not answered with its Min-SE"
    echo "ok: the gateway refreshed the call it made $after s after the 200"
    ;;
c)
    echo "== a call from the line: 422 with a Min-SE beyond a day, a 200 with Session-Expires no number"
    sipp_callee callee/timer_garbage 201 5097
    line_calls 201
    callee_passed "bad timers" callee/timer_garbage
    line_wait hook on || fail "bad timers: the line stayed off-hook"
    grep -q '422 without a Min-SE the gateway can ask for: asking again for no session timer' "$gateway_dir/out" ||
        fail "bad timers: the huge Min-SE was not answered with an INVITE asking for no timer"
    [ "$(times "$gw && sip.Method == \"INVITE\" && sip.Session-Expires" | wc -l)" -eq 1 ] ||
        fail "bad timers: the second INVITE asked for a session timer"
    grep -q "The answer's Session-Expires is no number: no session timer" "$gateway_dir/out" ||
        fail "bad timers: the garbage Session-Expires was not reported"
    grep -q '^Session timer: ' "$gateway_dir/out" && fail "bad timers: a session timer ran"
    echo "ok: the huge Min-SE and the garbage Session-Expires left the call without a timer"

    echo "== the gateway's refresh answered 481: the call ends at once"
    sipp_caller dialog/timer_gone 5550954 -p 5092 -mp 16010 || fail "481: $(sipp_failed dialog/timer_gone)"
    line_wait hook on || fail "481: the line stayed off-hook"
    # The capture is written a moment behind the wire.
    for _ in $(seq 20); do
        [ -n "$(times "$gw && sip.Method == \"BYE\" && sip.From contains \"5550954\"")" ] && break
        sleep 0.1
    done
    after=$(seconds_between 'sip.Status-Code == 481' "$gw && sip.Method == \"BYE\"")
    within "$after" 0 1 || fail "481: the gateway's BYE came $after s after the 481, not at once"
    numbers=$(tshark -r "$work/wire.pcapng" -T fields -e sip.CSeq.seq \
        -Y "$gw && sip.From contains \"5550954\" && (sip.Method == \"UPDATE\" || sip.Method == \"BYE\")" \
        2>/dev/null | sort -un | tr '\n' ' ')
    [ "$(wc -w <<<"$numbers")" -eq 2 ] ||
        fail "481: the gateway's UPDATE and BYE share or lack CSeq numbers: $numbers"
    echo "ok: the gateway ended the call $after s after its refresh was answered 481 (CSeq $numbers)"

    echo "== a call from the line to a refresher that never refreshes: BYE before the interval ends"
    sleep 0.5
    sipp_callee callee/timer_silent 202 5098
    line_calls 202
    callee_passed "silent refresher" callee/timer_silent
    line_wait hook on || fail "silent refresher: the line stayed off-hook"
    after=$(seconds_between 'sip.Status-Code == 200 && sip.CSeq.method == "INVITE" && sip.Session-Expires' \
        "$gw && sip.Method == \"BYE\"")
    within "$after" 55 65 || fail "silent refresher: the gateway's BYE came $after s after the 200, not at about 60 s"
    echo "ok: the gateway ended the call $after s after the 200"
    ;;
esac

gateway_stop || fail "sipline did not end cleanly"
grep -qE "runtime error|Sanitizer" "$gateway_dir/err" &&
    fail "sanitizer: $(grep -m 3 -E "runtime error|Sanitizer" "$gateway_dir/err")"
if [ "$failures" -ne 0 ]; then
    echo "--- gateway output (tail)"
    grep -E 'Session|UPDATE|INVITE|BYE|422|Final' "$gateway_dir/out" | tail -n 40
    exit 1
fi
echo "gateway_session_timers lane $lane: all passed"
