#!/usr/bin/env bash
# Offer/answer and DTMF with callers on another machine (a namespace joined by a veth pair):
#   SIPp offering PCMA alone, then PCMU alone: the answer lists what was offered and no more,
#     the caller's tone reaches the line, and the far party's tone comes back in that codec
#     (decoded from the capture);
#   SIPp offering G.722 alone: 488, the line never off-hook;
#   SIPp without an offer: the 200 carries the gateway's, the ACK's answer sets the media (audio
#     both ways); an ACK whose answer has nothing in common: the gateway's BYE, line on-hook;
#   SIPp playing the RFC 4733 captures of 1, 5, 7 and # that SIPp ships, then an INFO for 9:
#     the line hears 157#9, each key once;
#   baresip offering PCMA and telephone-event: audio both ways, its keys *1# reach the line,
#     and the keys 5# pressed on the line reach it as events (CALL_DTMF_START), which the
#     capture shows as well-formed RFC 4733 packets.
set -uo pipefail
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-gw-codecs-XXXXXX)
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
dumpcap_pid=
failures=0
cleanup() {
    callers_stop
    [ -n "$dumpcap_pid" ] && kill "$dumpcap_pid" 2>/dev/null && wait "$dumpcap_pid" 2>/dev/null
    gateway_stop
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# sipp_caller SCENARIO NUMBER [options]: SIPp from the callers' namespace, in $work.
sipp_caller() {
    local scenario=$1 number=$2
    shift 2
    (cd "$work" && exec "${netns_caller[@]}" timeout 60 sipp \
        -sf "$source_dir/gateway/tests/sipp/$scenario.xml" -s "$number" "$gateway_address:5060" \
        -i "$caller_address" -mi "$caller_address" -m 1 -l 1 -nostdin -timeout 40 -timeout_error \
        -trace_err -error_file "$work/${scenario//\//_}.err" "$@" >"$work/${scenario//\//_}.out" 2>&1)
}
sipp_failed() {
    echo "$1: $(tail -n 8 "$work/${1//\//_}.err" 2>/dev/null)"
}
# gateway_audio PORT PT OUT.wav: what the gateway sent to PORT as payload type PT (0 or 8),
# decoded from the capture into a WAV; the number of packets.
gateway_audio() {
    local port=$1 pt=$2 out=$3
    sleep 0.5
    tshark -r "$work/media.pcapng" -d "udp.port==$port,rtp" \
        -Y "ip.src==$gateway_address && udp.dstport==$port && rtp.p_type==$pt" \
        -T fields -e rtp.payload 2>/dev/null | python3 -W ignore -c '
import audioop, sys, wave
pt, out = int(sys.argv[1]), sys.argv[2]
data = b"".join(bytes.fromhex(line.strip().replace(":", "")) for line in sys.stdin if line.strip())
linear = audioop.ulaw2lin(data, 2) if pt == 0 else audioop.alaw2lin(data, 2)
with wave.open(out, "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000); w.writeframes(linear)
print(len(data) // 160)' "$pt" "$out"
}
# payload_types PORT: the payload types the gateway sent to PORT, with their counts.
payload_types() {
    tshark -r "$work/media.pcapng" -d "udp.port==$1,rtp" \
        -Y "ip.src==$gateway_address && udp.dstport==$1 && rtp" \
        -T fields -e rtp.p_type 2>/dev/null | sort | uniq -c | awk '{printf "%s:%s ", $2, $1}'
}
off_hooks() {
    grep -c 'Set off-hook' "$gateway_dir/out"
}

netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
capture=$work/gateway/heard.wav
sox -n -r 8000 -c 1 -b 16 "$work/far.wav" synth 60 sine 1400 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic440.wav" synth 60 sine 440 vol 0.5
sox -n -r 8000 -c 1 -e u-law "$work/stream.wav" synth 60 sine 800 vol 0.5
sox -n -r 8000 -c 1 -e a-law "$work/stream_alaw.wav" synth 60 sine 600 vol 0.5
dumpcap -q -i sipgw0 -f 'udp' -w "$work/media.pcapng" >/dev/null 2>&1 &
dumpcap_pid=$!
gateway_start "$work/gateway" BOARDSIM_SAY="$work/far.wav" BOARDSIM_CAPTURE="$capture" || exit 1
sleep 0.5

echo "== SIPp offers PCMA alone: answered PCMA alone, audio both ways in it"
start=$(wav_samples "$capture")
sipp_caller codecs/pcma_only 5550801 -p 5090 -mp 16000 -d 3000 &
sipp_pid=$!
line_wait line connected 10 || fail "PCMA: the line is not connected"
wait "$sipp_pid" || fail "PCMA: $(sipp_failed codecs/pcma_only)"
check_tone "PCMA caller's tone at the line" "$capture" "$start" 600
line_wait hook on || fail "PCMA: the line stayed off-hook"
packets=$(gateway_audio 16000 8 "$work/pcma_heard.wav")
[ "${packets:-0}" -gt 50 ] || fail "PCMA: the gateway sent ${packets:-no} PCMA packets"
check_tone "far party's tone in the gateway's PCMA" "$work/pcma_heard.wav" 0 1400
types=$(payload_types 16000)
[ "$types" = "8:${packets} " ] || fail "PCMA: the gateway sent payload types $types"

echo "== SIPp offers PCMU alone: the gateway sends PCMU"
sipp_caller rtp_call 5550802 -p 5092 -mp 16010 -d 3000 || fail "PCMU: $(sipp_failed rtp_call)"
line_wait hook on || fail "PCMU: the line stayed off-hook"
packets=$(gateway_audio 16010 0 "$work/pcmu_heard.wav")
[ "${packets:-0}" -gt 50 ] || fail "PCMU: the gateway sent ${packets:-no} PCMU packets"
check_tone "far party's tone in the gateway's PCMU" "$work/pcmu_heard.wav" 0 1400
types=$(payload_types 16010)
[ "$types" = "0:${packets} " ] || fail "PCMU: the gateway sent payload types $types"

echo "== SIPp offers G.722 alone: 488, the line untouched"
hooks=$(off_hooks)
sipp_caller codecs/g722_only 5550803 -p 5094 -mp 16020 || fail "G.722: $(sipp_failed codecs/g722_only)"
sleep 0.5
[ "$(off_hooks)" = "$hooks" ] || fail "G.722: the line went off-hook"
grep -q 'Making Outbound call to 5550803' "$gateway_dir/out" && fail "G.722: the line was dialled"
[ "$(line_status hook)" = on ] || fail "G.722: the line is off-hook"

echo "== SIPp without an offer: the gateway's offer in the 200, the answer in the ACK"
start=$(wav_samples "$capture")
sipp_caller codecs/delayed_offer 5550804 -p 5096 -mp 16030 -d 3000 &
sipp_pid=$!
line_wait line connected 10 || fail "delayed offer: the line is not connected"
wait "$sipp_pid" || fail "delayed offer: $(sipp_failed codecs/delayed_offer)"
check_tone "delayed offer: caller's tone at the line" "$capture" "$start" 800
line_wait hook on || fail "delayed offer: the line stayed off-hook"
packets=$(gateway_audio 16030 0 "$work/delayed_heard.wav")
[ "${packets:-0}" -gt 50 ] || fail "delayed offer: the gateway sent ${packets:-no} PCMU packets"
check_tone "delayed offer: far party's tone at the caller" "$work/delayed_heard.wav" 0 1400

echo "== an ACK whose answer has nothing in common: BYE, line on-hook"
sipp_caller codecs/delayed_no_answer 5550805 -p 5098 -mp 16040 ||
    fail "no answer: $(sipp_failed codecs/delayed_no_answer)"
line_wait hook on || fail "no answer: the line stayed off-hook"

echo "== RFC 4733 captures of 1 5 7 #, then an INFO for 9: the line hears each key once"
sipp_caller codecs/dtmf_keys 5550806 -p 5100 -mp 16050 || fail "keys: $(sipp_failed codecs/dtmf_keys)"
heard=$(grep -o 'DTMF . to the line' "$gateway_dir/out" | cut -c6 | tr -d '\n')
[ "$heard" = "157#9" ] || fail "keys: the gateway played '$heard', not 157#9"
[ "$(line_status heard_digits)" = "157#9" ] ||
    fail "keys: the line's party heard '$(line_status heard_digits)', not 157#9"
echo "ok: the gateway played $heard on the line, and the line's party heard each once"
line_wait hook on || fail "keys: the line stayed off-hook"

echo "== baresip offers PCMA with telephone-event: audio both ways, keys both ways"
baresip_start alaw "$work/mic440.wav" 5062 PCMA
start=$(wav_samples "$capture")
baresip_do alaw dial "sip:5550807@$gateway_address"
baresip_wait alaw CALL_ESTABLISHED 15 || fail "baresip: call not established"
line_wait line connected || fail "baresip: the line is not connected"
[ -z "$(line_status heard_digits)" ] || fail "baresip: keys heard before any was sent"
sleep 2
check_tone "baresip's PCMA tone at the line" "$capture" "$start" 440
baresip_do alaw sndcode '*1#'
for _ in $(seq 50); do
    [ "$(line_status heard_digits)" = '*1#' ] && break
    sleep 0.1
done
[ "$(line_status heard_digits)" = '*1#' ] ||
    fail "baresip's keys: the line's party heard '$(line_status heard_digits)', not *1#"
line_do 'press 5#' >/dev/null
for _ in $(seq 50); do
    [ "$(grep -o '"type":"CALL_DTMF_END"' "$work/alaw/events" | wc -l)" -ge 2 ] && break
    sleep 0.1
done
keys=$(grep -o '"type":"CALL_DTMF_START"[^}]*"param":"[^"]*"' "$work/alaw/events" |
    sed 's/.*"param":"\(.\)".*/\1/' | tr -d '\n')
[ "$keys" = "5#" ] || fail "the line's keys: baresip reported '$keys', not 5#"
echo "ok: the line's keys reached baresip as $keys"
baresip_do alaw hangup
baresip_wait alaw CALL_CLOSED || fail "baresip: call not closed"
line_wait hook on || fail "baresip: the line stayed off-hook"
check_tone "far party's tone at baresip (PCMA)" "$(baresip_heard alaw)" 0 1400
sleep 0.5
# The events on the wire: one timestamp per key, marker on its first packet, the end bit on
# three final packets that repeat the duration.
tshark -r "$work/media.pcapng" -d 'udp.port==10000,rtp' -o rtp.heuristic_rtp:TRUE \
    -Y "ip.src==$gateway_address && rtpevent" \
    -T fields -e rtp.timestamp -e rtp.marker -e rtpevent.event_id -e rtpevent.end_of_event \
    -e rtpevent.duration 2>/dev/null >"$work/events.txt"
python3 - "$work/events.txt" <<'EOF' || fail "the gateway's RFC 4733 packets are not well-formed"
import sys
presses = {}
for line in open(sys.argv[1]):
    ts, marker, event, end, duration = line.split()
    presses.setdefault(int(ts), []).append((marker, int(event), end, int(duration)))
events = [p[0][1] for p in presses.values()]
assert events == [5, 11], f"events {events}"
for ts, packets in presses.items():
    assert packets[0][0] in ("1", "True"), f"no marker on the first packet of {ts}"
    assert all(p[0] in ("0", "False") for p in packets[1:]), f"a marker after the first at {ts}"
    ends = [p for p in packets if p[2] in ("1", "True")]
    assert len(ends) == 3 and len({p[3] for p in ends}) == 1, f"end packets of {ts}: {ends}"
    durations = [p[3] for p in packets]
    assert durations == sorted(durations) and durations[-1] >= 640, f"durations {durations}"
print(f"ok: {len(presses)} events, each with marker, growing duration and three end packets")
EOF

callers_stop
gateway_stop || fail "sipline did not end cleanly"
if [ "$failures" -ne 0 ]; then
    echo "--- gateway output (tail)"
    tail -n 40 "$gateway_dir/out"
    tail -n 20 "$gateway_dir/err"
    exit 1
fi
echo "gateway_codecs: all passed"
