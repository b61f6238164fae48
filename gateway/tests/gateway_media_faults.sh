#!/usr/bin/env bash
# Media faults during a call: RTP and RTCP garbage, a flood, 10,000 sources, a change of SSRC,
# gaps, duplicates and reordering, and a peer that vanishes (ICMP port unreachable for every
# packet). The process lives, its outgoing audio keeps its pace, the call ends by its BYE; then
# a call ended by an RTCP BYE, and a plain call after it.
. "$(realpath "${SIPLINE_SOURCE:-.}")/gateway/tests/e2e_lib.sh"
e2e_start
# The gateway's own pace is 20 ms; the rest is the scheduler of a loaded 2-core machine, where the
# peer's flood and the tests beside this one have left gaps of 103-115 ms.
max_gap=150
sanitized && max_gap=400
sources=${MEDIA_FAULT_SOURCES:-10000}

echo "== faults thrown at a connected call"
capture_start 4000
python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 20 garbage rtcp_garbage flood \
    "ssrcs=$sources" ssrc_change disorder vanish=3 > "$work/peer.out" 2>&1 &
peer=$!
sipp_start call 5550200 -p 5071 -d 16000
wait_for "$work/out" "Exiting ST_TXDIAL"
sipp_wait "the call under faults did not end by its BYE"
kill -0 "$gateway" 2>/dev/null || fail "sipline died under the media faults"
wait "$peer" 2>/dev/null
cat "$work/peer.out"
grep -q "phase vanish=3 done" "$work/peer.out" || fail "the peer did not get through its phases"
wait_for "$work/out" "IODONE fininshed"
capture_stop
read -r packets seconds gap < <(capture_gaps)
echo "gateway RTP: $packets packets in $seconds s, largest gap $gap ms"
[ "$gap" -le "$max_gap" ] || fail "a gap of $gap ms in the gateway's audio"
[ "$packets" -ge $(( ${seconds%.*} * 45 )) ] || fail "only $packets packets in $seconds s"
idle 1 "after the faults"

echo "== an RTCP BYE from the caller's media ends the call"
sipp_start answered 5550201 -p 5071
wait_for "$work/out" "Exiting ST_TXDIAL" 2
python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 3 rtcp_bye > "$work/peer.out" 2>&1
sipp_wait "the call to be ended by RTCP BYE"
wait_for "$work/out" "IODONE fininshed" 2
idle 2 "after the RTCP BYE"

echo "== the next call works"
python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 4 > "$work/peer.out" 2>&1 &
sipp_run call 5550202 -p 5071 -d 1500 || fail "the call after the faults"
idle 3 "after the last call"

e2e_finish "gateway media faults"
