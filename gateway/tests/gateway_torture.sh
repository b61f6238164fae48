#!/usr/bin/env bash
# Torture with a call up: while a SIPp call is connected (with RTP both ways), every message of
# gateway/tests/torture goes to the gateway and gets the answer of expected.txt; the process
# lives, the gateway's outgoing audio keeps its pace without a gap, and the call ends by its own
# BYE. Then a caller that never acknowledges the 200 ends its call with a BYE.
. "$(realpath "${SIPLINE_SOURCE:-.}")/gateway/tests/e2e_lib.sh"
e2e_start
max_gap=100
sanitized && max_gap=400
number=5550100
call_id=torture-1@tester

echo "== a connected call, and the torture corpus sent at it"
capture_start 4000
python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 40 > "$work/peer.out" 2>&1 &
peer=$!
sipp_start torture_call "$number" -p 5071 -cid_str "torture-%u@tester" -d 25000
wait_for "$work/out" "Exiting ST_TXDIAL"
wait_for "$work/out" "ACKed"
to_tag=$(grep -a "^To: <sip:$number@gw>;tag=" "$work/out" | head -n 1 | sed 's/.*;tag=//; s/\r$//')
[ -n "$to_tag" ] || fail "no To tag in the gateway's 200"
sleep 1
started=$(date +%s)
python3 "$source/gateway/tests/torture/send.py" "$source/gateway/tests/torture" 127.0.0.1 5060 \
    "CALLID=$call_id" "TOTAG=$to_tag" "FROMTAG=1" "NUMBER=$number" > "$work/torture.out" 2>&1 ||
    fail "wrong answers: $(grep FAIL "$work/torture.out")"
tail -n 1 "$work/torture.out"
[ $(($(date +%s) - started)) -lt 23 ] || fail "the corpus took longer than the call"
kill -0 "$gateway" 2>/dev/null || fail "sipline died under the corpus"
grep -q "^Sending BYE" "$work/out" && fail "the gateway ended the call"
grep -q "^CANCEL after the final answer" "$work/out" || fail "the CANCEL after the 200 was not seen"
sipp_wait "the call did not end by its own BYE"
wait_for "$work/out" "IODONE fininshed"
capture_stop
kill "$peer" 2>/dev/null
wait "$peer" 2>/dev/null
read -r packets seconds gap < <(capture_gaps)
echo "gateway RTP: $packets packets in $seconds s, largest gap $gap ms"
[ "$gap" -le "$max_gap" ] || fail "a gap of $gap ms in the gateway's audio"
# 50 packets a second over the connected time, less a little for the start and the end.
[ "$packets" -ge $(( ${seconds%.*} * 45 )) ] || fail "only $packets packets in $seconds s"
idle 1 "after the torture call"

echo "== a BYE before the ACK"
sipp_run bye_before_ack 5550101 -p 5072 || fail "BYE before the ACK"
idle 2 "after the BYE before the ACK"
grep -q "^BYE received: setting the event" "$work/out" || fail "the unacknowledged BYE was not taken"

e2e_finish "gateway torture"
