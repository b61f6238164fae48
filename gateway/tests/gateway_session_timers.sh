#!/usr/bin/env bash
# Session timers (RFC 4028) with SIPp on another machine:
#   Session-Expires below the gateway's minimum: 422 with Min-SE 90, the line untouched;
#   Session-Expires 90 with the gateway as refresher: its UPDATE comes at about 45 s;
#   a caller that refreshes once and then stops: the gateway's BYE comes before the interval
#     has run out, and the line goes on-hook.
set -uo pipefail
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-gw-timers-XXXXXX)
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
dumpcap_pid=
failures=0
cleanup() {
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
sipp_failed() {
    echo "$1: $(tail -n 8 "$work/${1//\//_}.err" 2>/dev/null)"
}
# seconds_between FIRST SECOND: seconds from the last SIP message on the wire matching the
# display filter FIRST to the last one matching SECOND (the call just made).
seconds_between() {
    tshark -r "$work/wire.pcapng" -Y "$1" -T fields -e frame.time_relative 2>/dev/null | tail -n 1 >"$work/a"
    tshark -r "$work/wire.pcapng" -Y "$2" -T fields -e frame.time_relative 2>/dev/null | tail -n 1 >"$work/b"
    awk -v a="$(cat "$work/a")" -v b="$(cat "$work/b")" 'BEGIN { if (a == "" || b == "") print -1; else printf "%.1f\n", b - a }'
}

netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
dumpcap -q -i sipgw0 -f 'udp port 5060' -w "$work/wire.pcapng" >/dev/null 2>&1 &
dumpcap_pid=$!
gateway_start "$work/gateway" || exit 1
sleep 0.5

echo "== Session-Expires 30: 422 with Min-SE 90"
sipp_caller dialog/timer_brief 5550950 -p 5090 -mp 16000 || fail "422: $(sipp_failed dialog/timer_brief)"
grep -q 'Making Outbound call to 5550950' "$gateway_dir/out" && fail "422: the line was dialled"

echo "== Session-Expires 90, the gateway refreshes (about 45 s)"
sipp_caller dialog/timer_uas 5550951 -p 5092 -mp 16010 || fail "refresher uas: $(sipp_failed dialog/timer_uas)"
line_wait hook on || fail "refresher uas: the line stayed off-hook"
sleep 0.5
after=$(seconds_between 'sip.Status-Code == 200 && sip.CSeq.method == "INVITE" && sip.Session-Expires' \
    'sip.Method == "UPDATE"')
awk -v s="$after" 'BEGIN { exit !(s >= 40 && s <= 50) }' ||
    fail "refresher uas: the gateway's UPDATE came $after s after the 200, not about 45 s"
echo "ok: the gateway refreshed $after s after the 200"

echo "== the caller refreshes once, then stops: the gateway's BYE before the interval runs out"
sipp_caller dialog/timer_expire 5550952 -p 5094 -mp 16020 || fail "expiry: $(sipp_failed dialog/timer_expire)"
line_wait hook on || fail "expiry: the line stayed off-hook"
sleep 0.5
after=$(seconds_between 'sip.Status-Code == 200 && sip.CSeq.method == "UPDATE"' 'sip.Method == "BYE"')
awk -v s="$after" 'BEGIN { exit !(s >= 55 && s < 90) }' ||
    fail "expiry: the gateway's BYE came $after s after the refresh, not between 55 and 90 s"
echo "ok: the gateway ended the call $after s after the last refresh"

gateway_stop || fail "sipline did not end cleanly"
if [ "$failures" -ne 0 ]; then
    echo "--- gateway output (tail)"
    grep -E 'Session|UPDATE|BYE' "$gateway_dir/out" | tail -n 30
    exit 1
fi
echo "gateway_session_timers: all passed"
