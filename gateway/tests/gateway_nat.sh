#!/usr/bin/env bash
# A phone behind a NAT calls the line: three namespaces, the gateway's (10.77.0.1), a router
# (10.77.0.2 outside, 192.168.77.1 inside) that masquerades with nftables and lets in only the
# answers to what went out, and the phone's (192.168.77.2), whose SDP and Contact carry its
# private address. With baresip, then linphonec: the call completes, audio flows both ways
# (frequencies measured), the line's party hangs up and the gateway's BYE reaches the phone
# through the NAT (its answer taken), then a call that the phone hangs up. The router maps
# linphonec's RTCP port to an unrelated one (30001): the gateway's RTCP follows the caller's
# RTCP there, not the latched RTP port + 1, and reaches the phone (tshark on both sides).
set -uo pipefail
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-gw-nat-XXXXXX)
gateway_address=10.77.0.1
router_address=10.77.0.2
failures=0
dumpcap_pids=()
cleanup() {
    callers_stop
    for pid in "${dumpcap_pids[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
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
in_caller nft insert rule ip nat postrouting oifname "sipcall0" udp sport 7065 snat to "$router_address:30001"
# From here on the callers run on the phone behind the NAT.
netns_caller=("${netns_phone[@]}")
caller_address=192.168.77.2

capture=$work/gateway/heard.wav
sox -n -r 8000 -c 1 -b 16 "$work/far.wav" synth 60 sine 1400 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic440.wav" synth 60 sine 440 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic600.wav" synth 60 sine 600 vol 0.5
gateway_start "$work/gateway" BOARDSIM_SAY="$work/far.wav" BOARDSIM_CAPTURE="$capture" || exit 1
dumpcap -q -i sipgw0 -f 'udp' -w "$work/wire.pcapng" >/dev/null 2>&1 &
dumpcap_pids=($!)
"${netns_phone[@]}" dumpcap -q -i natphone0 -f 'udp' -w "$work/phone.pcapng" >/dev/null 2>&1 &
dumpcap_pids+=($!)
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
# Long enough for RTCP both ways (a report every 5 s or so).
sleep 12
check_tone "linphonec's tone at the line" "$capture" "$start" 600
linphonec_do linph terminate
linphonec_wait linph "ended" || fail "linphonec: call did not end"
line_wait hook on || fail "linphonec: the line stayed off-hook after the phone's BYE"
sleep 0.5
check_tone "the far party's tone at linphonec" "$work/linph/heard.wav" 0 1400
callers_stop
grep -q "RTCP latched to $router_address:30001" "$gateway_dir/out" ||
    fail "linphonec: the gateway's RTCP did not follow the caller's RTCP to port 30001"
# rtcp_count PCAP FILTER: the RTCP packets in PCAP matching FILTER.
rtcp_count() {
    tshark -r "$1" -d udp.port==10001,rtcp -Y "rtcp && $2" -T fields -e frame.number 2>/dev/null | wc -l
}
sent=$(rtcp_count "$work/wire.pcapng" "ip.src==$gateway_address && udp.srcport==10001 && udp.dstport==30001")
arrived=$(rtcp_count "$work/phone.pcapng" "ip.src==$gateway_address && udp.srcport==10001 && ip.dst==$caller_address && udp.dstport==7065")
if [ "$sent" -ge 1 ] && [ "$arrived" -ge 1 ]; then
    echo "ok: the gateway's RTCP followed the caller's through the NAT: $sent sent to port 30001, $arrived reached the phone"
else
    fail "linphonec: the gateway's RTCP to the NAT's port 30001: $sent sent, $arrived at the phone's 7065"
fi

gateway_stop || fail "sipline did not end cleanly"
if [ "$failures" -ne 0 ]; then
    echo "--- gateway output (tail)"
    grep -E 'latched|BYE|Offer answered' "$gateway_dir/out" | tail -n 20
    tail -n 20 "$gateway_dir/err"
    exit 1
fi
echo "gateway_nat: all passed"
