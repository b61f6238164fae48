#!/usr/bin/env bash
# The user-agent server against the softphones Debian ships, baresip and linphonec, each in a
# namespace of its own joined to the server's by a veth pair: each call is acknowledged, ended by
# the caller's BYE, or by the server's BYE, which the softphone answers 200; a second caller
# during a call is refused 503 and the first call goes on. The wire is read by tshark.
set -uo pipefail
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-softphones-XXXXXX)
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
harness_pid=
dumpcap_pid=
failures=0
cleanup() {
    callers_stop
    [ -n "$dumpcap_pid" ] && kill "$dumpcap_pid" 2>/dev/null && wait "$dumpcap_pid" 2>/dev/null
    [ -n "$harness_pid" ] && kill "$harness_pid" 2>/dev/null && wait "$harness_pid" 2>/dev/null
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
harness_has() {
    for _ in $(seq 50); do
        grep -aqE -- "$1" "$work/harness.out" && return 0
        sleep 0.1
    done
    return 1
}
harness_count() {
    grep -acE -- "$1" "$work/harness.out"
}

netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
sox -n -r 8000 -c 1 -b 16 "$work/mic.wav" synth 30 sine 440 vol 0.5
dumpcap -q -i sipgw0 -f 'udp and not port 10000' -w "$work/sip.pcapng" >/dev/null 2>&1 &
dumpcap_pid=$!
UAS_HARNESS_ADDRESS=$gateway_address "$build/tests/uas_harness" >"$work/harness.out" 2>&1 &
harness_pid=$!
harness_has "UDP listener started" || { fail "harness did not start"; exit 1; }
sleep 1

baresip_start bare "$work/mic.wav" 5062
linphonec_start linph "$work/mic.wav" 5064

# baresip: the caller hangs up.
baresip_do bare dial "sip:1234@$gateway_address"
baresip_wait bare CALL_ESTABLISHED || fail "baresip: call to 1234 not established"
harness_has '^ACKed$' || fail "baresip: no ACK for the 200"
sleep 1
baresip_do bare hangup
harness_has '^BYE received: setting the event$' || fail "baresip: its BYE did not end the call"
baresip_wait bare CALL_CLOSED || fail "baresip: call not closed after hang-up"
sleep 1
echo "ok: baresip call, caller hangs up"

# baresip: the server hangs up; baresip answers the BYE.
: >"$work/bare/events"
baresip_do bare dial "sip:2000@$gateway_address"
baresip_wait bare CALL_ESTABLISHED || fail "baresip: call to 2000 not established"
baresip_wait bare CALL_CLOSED || fail "baresip: the server's BYE did not close the call"
sleep 1
echo "ok: baresip call, server hangs up"

# linphonec: the caller hangs up.
linphonec_do linph "call sip:1234@$gateway_address"
linphonec_wait linph "connected." || fail "linphonec: call to 1234 not connected"
[ "$(harness_count '^ACKed$')" -ge 3 ] || harness_has '^ACKed$' || fail "linphonec: no ACK"
sleep 1
linphonec_do linph terminate
linphonec_wait linph "ended" || fail "linphonec: call did not end"
[ "$(harness_count '^BYE received: setting the event$')" -eq 2 ] || fail "linphonec: its BYE did not end the call"
sleep 1
echo "ok: linphonec call, caller hangs up"

# linphonec: the server hangs up.
: >"$work/linph/console.out"
linphonec_do linph "call sip:2000@$gateway_address"
linphonec_wait linph "connected." || fail "linphonec: call to 2000 not connected"
linphonec_wait linph "ended" || fail "linphonec: the server's BYE did not end the call"
sleep 1
echo "ok: linphonec call, server hangs up"

# A second caller during a call is refused 503; the first call goes on.
: >"$work/bare/events"
: >"$work/linph/console.out"
baresip_do bare dial "sip:1234@$gateway_address"
baresip_wait bare CALL_ESTABLISHED || fail "baresip: first call not established"
linphonec_do linph "call sip:1300@$gateway_address"
linphonec_wait linph "Service Unavailable" || linphonec_wait linph "error" ||
    fail "linphonec: no failed call shown during baresip's call"
baresip_wait bare CALL_CLOSED 1 && fail "baresip: the first call ended when a second caller came"
baresip_do bare hangup
baresip_wait bare CALL_CLOSED || fail "baresip: first call not closed"
sleep 1
: >"$work/bare/events"
: >"$work/linph/console.out"
linphonec_do linph "call sip:1234@$gateway_address"
linphonec_wait linph "connected." || fail "linphonec: first call not connected"
baresip_do bare dial "sip:1300@$gateway_address"
baresip_wait bare CALL_CLOSED || fail "baresip: second call not refused"
grep -q '503' "$work/bare/events" || fail "baresip: the refusal was not a 503: $(tail -c 300 "$work/bare/events")"
linphonec_wait linph "ended" 1 && fail "linphonec: the first call ended when a second caller came"
linphonec_do linph terminate
linphonec_wait linph "ended" || fail "linphonec: first call did not end"
sleep 1
echo "ok: a second caller during a call is refused 503"

callers_stop
kill "$dumpcap_pid"
wait "$dumpcap_pid" 2>/dev/null
dumpcap_pid=

# On the wire: every BYE the server sent was answered 200 by the softphone; every 200 to an
# INVITE had a To tag and a Contact; every 503 a To tag.
tshark -r "$work/sip.pcapng" -Y sip -T fields -E separator='|' -e ip.src -e sip.Method \
    -e sip.Status-Code -e sip.CSeq.method -e sip.to.tag -e sip.Contact -e sip.Via.branch \
    >"$work/wire.txt" 2>/dev/null
if awk -F'|' -v gw="$gateway_address" '
    $1 == gw && $2 == "BYE" { byes++; if ($7 !~ /^z9hG4bK/) bad = bad " BYE-without-branch" }
    $1 != gw && $3 == 200 && $4 == "BYE" { bye_answers++ }
    $1 == gw && $3 >= 200 && $4 == "INVITE" && $5 == "" { bad = bad " untagged-" $3 }
    $1 == gw && $3 == 200 && $4 == "INVITE" && $6 == "" { bad = bad " 200-without-Contact" }
    $1 == gw && $3 == 503 { refused++ }
    END {
        if (byes < 2) bad = bad " server-BYEs=" byes
        if (bye_answers < byes) bad = bad " BYE-answers-from-softphones=" bye_answers
        if (refused < 2) bad = bad " 503s=" refused
        if (bad != "") { print "on the wire:" bad; exit 1 }
    }' "$work/wire.txt"; then
    echo "ok: the wire ($(wc -l <"$work/wire.txt") SIP messages)"
else
    fail "the wire"
fi

if [ "$failures" -ne 0 ]; then
    echo "--- harness (tail)"
    tail -n 40 "$work/harness.out"
    exit 1
fi
echo "all softphone calls passed"
