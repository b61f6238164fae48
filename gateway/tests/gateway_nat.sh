#!/usr/bin/env bash
# A phone behind a NAT calls the line: three namespaces, the gateway's (10.77.0.1), a router
# (10.77.0.2 outside, 192.168.77.1 inside) that masquerades with nftables and lets in only the
# answers to what went out, and the phone's (192.168.77.2), whose SDP and Contact carry its
# private address. With baresip, then linphonec: the call completes, audio flows both ways
# (frequencies measured), the line's party hangs up and the gateway's BYE reaches the phone
# through the NAT (its answer taken), then a call that the phone hangs up.
set -uo pipefail
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-gw-nat-XXXXXX)
gateway_address=10.77.0.1
router_address=10.77.0.2
failures=0
cleanup() {
    callers_stop
    gateway_stop
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
caller_address=$router_address
source "$source_dir/scripts/callers.sh"
netns_caller_start "$gateway_address" "$router_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
netns_nat_start 192.168.77.1 192.168.77.2
# From here on the callers run on the phone behind the NAT.
netns_caller=("${netns_phone[@]}")
caller_address=192.168.77.2

capture=$work/gateway/heard.wav
sox -n -r 8000 -c 1 -b 16 "$work/far.wav" synth 60 sine 1400 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic440.wav" synth 60 sine 440 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic600.wav" synth 60 sine 600 vol 0.5
gateway_start "$work/gateway" BOARDSIM_SAY="$work/far.wav" BOARDSIM_CAPTURE="$capture" || exit 1
sleep 0.5

echo "== baresip behind the NAT"
baresip_start bare "$work/mic440.wav" 5062 PCMU
start=$(wav_samples "$capture")
baresip_do bare dial "sip:5551234@$gateway_address"
baresip_wait bare CALL_ESTABLISHED 15 || fail "baresip: call not established through the NAT"
line_wait line connected || fail "baresip: the line is not connected"
sleep 3
check_tone "baresip's tone at the line" "$capture" "$start" 440
grep -q "RTP latched to $router_address:[0-9]* (the description said $caller_address:" \
    "$gateway_dir/out" || fail "baresip: the gateway did not latch to the NAT's address"
line_do hangup >/dev/null
baresip_wait bare CALL_CLOSED || fail "baresip: the gateway's BYE did not reach the phone"
line_wait hook on || fail "baresip: the line stayed off-hook"
sleep 0.5
grep -q 'BYE answered 200' "$gateway_dir/out" || fail "baresip: the BYE's answer did not come back"
check_tone "the far party's tone at baresip" "$(baresip_heard bare)" 0 1400

: >"$work/bare/events"
baresip_do bare dial "sip:5550002@$gateway_address"
baresip_wait bare CALL_ESTABLISHED 15 || fail "baresip: second call not established"
sleep 1
baresip_do bare hangup
baresip_wait bare CALL_CLOSED || fail "baresip: second call not closed"
line_wait hook on || fail "baresip: the caller's BYE did not put the line on-hook"
callers_stop

echo "== linphonec behind the NAT"
linphonec_start linph "$work/mic600.wav" 5064
start=$(wav_samples "$capture")
linphonec_do linph "call sip:5551235@$gateway_address"
linphonec_wait linph "connected." 15 || fail "linphonec: call not connected through the NAT"
line_wait line connected || fail "linphonec: the line is not connected"
sleep 3
check_tone "linphonec's tone at the line" "$capture" "$start" 600
linphonec_do linph terminate
linphonec_wait linph "ended" || fail "linphonec: call did not end"
line_wait hook on || fail "linphonec: the line stayed off-hook after the phone's BYE"
sleep 0.5
check_tone "the far party's tone at linphonec" "$work/linph/heard.wav" 0 1400
callers_stop

gateway_stop || fail "sipline did not end cleanly"
if [ "$failures" -ne 0 ]; then
    echo "--- gateway output (tail)"
    grep -E 'latched|BYE|Offer answered' "$gateway_dir/out" | tail -n 20
    tail -n 20 "$gateway_dir/err"
    exit 1
fi
echo "gateway_nat: all passed"
