#!/usr/bin/env bash
# The media bridge against independent peers: GStreamer sends a 1 kHz tone as PCMU and as GSM
# to port 10000 and the line must hear it; the line says a 700 Hz tone and GStreamer's gsmdec
# must decode it from the bridge's RTP; tshark reads the RTP headers and the RTCP (SR, SDES
# CNAME and NAME, the final BYE "hangup"). Port 10000 is the gateway's own, so this runs in a
# private network namespace.
set -euo pipefail

# shellcheck source=scripts/netns.sh
. "${SIPLINE_SOURCE:?}/scripts/netns.sh"
netns_enter "$0" "$@"

build=${SIPLINE_BUILD:?}
# shellcheck source=scripts/gsm_listen.sh
. "${SIPLINE_SOURCE:?}/scripts/gsm_listen.sh"
harness="$build/tests/media_harness"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
export BOARDSIM_CONTROL="$work/boardsim.sock"

# within VALUE LOW HIGH
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# A tone of amplitude 0.25 of full scale: 8192, an RMS of 5793.
expected_rms=5793
send_tone() {
  local encoder=$1
  timeout 20 gst-launch-1.0 -q audiotestsrc wave=sine freq=1000 volume=0.25 num-buffers=100 \
    samplesperbuffer=160 is-live=true ! audio/x-raw,rate=8000,channels=1,format=S16LE ! \
    $encoder ! udpsink host=127.0.0.1 port=10000 >"$work/gst-send.log" 2>&1 ||
    fail "gst sender ($encoder): $(cat "$work/gst-send.log")"
}

for codec in PCMU GSM; do
  echo "== GStreamer sends a 1 kHz tone as $codec: the line hears it"
  case $codec in
    PCMU) encoder="mulawenc ! rtppcmupay pt=0" tolerance_db=0.5 ;;
    GSM) encoder="gsmenc ! rtpgsmpay pt=3" tolerance_db=1.5 ;;
  esac
  BOARDSIM_CAPTURE="$work/heard-$codec.wav" "$harness" 11000 3 >"$work/harness-$codec.log" 2>&1 &
  harness_pid=$!
  pids+=($harness_pid)
  sleep 0.3
  send_tone "$encoder"
  wait "$harness_pid" || fail "harness ($codec) failed: $(tail -5 "$work/harness-$codec.log")"
  line=$(grep '^heard ' "$work/harness-$codec.log" || true)
  hz=$(sed -n 's/.*hz=\([0-9.]*\).*/\1/p' <<<"$line")
  rms=$(sed -n 's/.*rms=\([0-9.]*\).*/\1/p' <<<"$line")
  within "${hz:-0}" 990 1010 || fail "$codec: the line heard ${hz:-nothing} Hz, not 1000 ($line)"
  level_db=$(awk -v r="${rms:-1}" -v e=$expected_rms 'BEGIN { printf "%.2f", 20 * log(r / e) / log(10) }')
  within "$level_db" "-$tolerance_db" "$tolerance_db" ||
    fail "$codec: the line heard the tone at $level_db dB from the level sent ($line)"
  echo "ok: $line ($level_db dB)"
done

echo "== the line says 700 Hz: GStreamer decodes the bridge's GSM, tshark reads RTP and RTCP"
sox -n -r 8000 -c 1 -b 16 "$work/say.wav" synth 12 sine 700 vol 0.25 2>"$work/sox.log" ||
  fail "sox: $(cat "$work/sox.log")"
dumpcap -i lo -f "udp port 12000 or udp port 12001" -w "$work/wire.pcapng" >"$work/dumpcap.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -qs "Capturing on" "$work/dumpcap.log" && break; sleep 0.1; done
grep -q "Capturing on" "$work/dumpcap.log" || fail "dumpcap did not start: $(cat "$work/dumpcap.log")"
gsm_listen 12000 "$work/decoded.raw" 30
pids+=("$gsm_listener")
# The peer listens for RTCP too: a port that refuses one report would make the socket refuse
# the next send (ICMP port unreachable), the BYE among them.
socat -u UDP-RECV:12001 /dev/null &
pids+=($!)
# GStreamer may take seconds to start on a loaded machine (a registry rebuild): wait for its socket.
for _ in $(seq 200); do [ -n "$(ss -Hlun 'sport = :12000')" ] && break; sleep 0.1; done
BOARDSIM_SAY="$work/say.wav" "$harness" 12000 12 >"$work/harness-out.log" 2>&1 ||
  fail "harness (out) failed: $(tail -5 "$work/harness-out.log")"
sleep 0.5
gsm_listen_stop "$work/decoded.raw" "$work/decoded.wav"
sleep 0.5
kill "${pids[-3]}" 2>/dev/null || true
wait "${pids[-3]}" 2>/dev/null || true

line=$("$harness" --measure "$work/decoded.wav")
freq=$(sed -n 's/.*hz=\([0-9.]*\).*/\1/p' <<<"$line")
rms=$(sed -n 's/.*rms=\([0-9.]*\).*/\1/p' <<<"$line")
within "${freq:-0}" 690 710 || fail "gsmdec decoded ${freq:-nothing} Hz, not 700 ($line)"
level_db=$(awk -v r="${rms:-1}" -v e=$expected_rms 'BEGIN { printf "%.2f", 20 * log(r / e) / log(10) }')
within "$level_db" -1.5 1.5 || fail "gsmdec decoded the tone at $level_db dB from the level said ($line)"
echo "ok: gsmdec decoded $freq Hz at $level_db dB"

tshark -r "$work/wire.pcapng" -d udp.port==12000,rtp -Y rtp -T fields -e rtp.version \
  -e rtp.p_type -e rtp.seq -e rtp.timestamp -e rtp.marker -e udp.length \
  >"$work/rtp.txt" 2>"$work/tshark.log" || fail "tshark: $(cat "$work/tshark.log")"
packets=$(wc -l <"$work/rtp.txt")
[ "$packets" -ge 250 ] || fail "only $packets RTP packets in 12 s"
awk '
  NR == 1 { if ($5 != 1) { print "first packet without the marker"; bad = 1 } }
  NR > 1 {
    if ($5 != 0) { print "marker on packet " NR; bad = 1 }
    if (($3 - seq + 65536) % 65536 != 1) { print "sequence " seq " then " $3; bad = 1 }
    if (($4 - ts + 4294967296) % 4294967296 != 160) { print "timestamp " ts " then " $4; bad = 1 }
  }
  { if ($1 != 2 || $2 != 3 || $6 != 8 + 12 + 33) { print "packet " NR ": " $0; bad = 1 }
    seq = $3; ts = $4 }
  END { exit bad }' "$work/rtp.txt" >"$work/rtp-check.txt" ||
  fail "RTP headers: $(head -5 "$work/rtp-check.txt")"
echo "ok: $packets packets, version 2, PT 3, 33-byte payloads, sequence +1, timestamp +160, marker on the first"

tshark -r "$work/wire.pcapng" -d udp.port==12001,rtcp -Y rtcp -T fields -E separator='|' \
  -e frame.time_relative -e rtcp.pt -e rtcp.sdes.type -e rtcp.sdes.text \
  >"$work/rtcp.txt" 2>>"$work/tshark.log" || fail "tshark rtcp: $(cat "$work/tshark.log")"
grep -q '200,202|1,2,0|5551234@gw.sipline.test,sip-marva Gateway' "$work/rtcp.txt" ||
  fail "no SR + SDES with CNAME and NAME: $(cat "$work/rtcp.txt")"
reports=$(grep -c '200,202|' "$work/rtcp.txt" || true)
first=$(grep -m1 '200,202|' "$work/rtcp.txt" | cut -d'|' -f1)
# RFC 3550 6.2 and 6.3: the first report within a few seconds (a reconsidered initial interval),
# the next ones at least 2.5 s apart (the 5 s minimum, randomised by 0.5 to 1.5).
within "${first:-99}" 0.5 8 || fail "first report at ${first:-never} s"
grep '200,202|' "$work/rtcp.txt" | cut -d'|' -f1 |
  awk 'NR > 1 && $1 - last < 2.5 { print "reports " last " and " $1 " s"; bad = 1 } { last = $1 } END { exit bad }' ||
  fail "reports too close together"
tail -1 "$work/rtcp.txt" | grep -q '^[^|]*|200,203' || fail "the last compound is not SR + BYE: $(tail -1 "$work/rtcp.txt")"
tshark -r "$work/wire.pcapng" -d udp.port==12001,rtcp -Y 'rtcp.pt == 203' -V 2>/dev/null |
  grep -q 'hangup' || fail "the BYE does not say \"hangup\""
echo "ok: $reports SR + SDES reports (first at $first s), SR + BYE \"hangup\" at the end"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all media interop checks passed"
