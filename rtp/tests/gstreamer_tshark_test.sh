#!/usr/bin/env bash
# Interop with independent peers: GStreamer sends GSM RTP to the engine and receives (and
# decodes) the engine's GSM RTP; tshark decodes the engine's packets as RTP. Runs in a private
# network namespace so that its ports collide with nothing.
set -euo pipefail

# shellcheck source=scripts/netns.sh
. "${SIPLINE_SOURCE:?}/scripts/netns.sh"
netns_enter "$0" "$@"

build=${SIPLINE_BUILD:?}
peer="$build/tests/rtp_peer"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

gsm_caps="application/x-rtp,media=audio,clock-rate=8000,encoding-name=GSM,payload=3"

echo "== GStreamer sends GSM RTP to the engine"
"$peer" receive 12000 40 20 >"$work/receive.log" &
receiver=$!
pids+=($receiver)
for _ in $(seq 50); do grep -q listening "$work/receive.log" && break; sleep 0.1; done
timeout 30 gst-launch-1.0 -q audiotestsrc num-buffers=60 samplesperbuffer=160 ! \
  audio/x-raw,rate=8000,channels=1 ! audioconvert ! gsmenc ! rtpgsmpay pt=3 ! \
  udpsink host=127.0.0.1 port=12000 >"$work/gst-send.log" 2>&1 || fail "gst sender: $(cat "$work/gst-send.log")"
wait "$receiver" || fail "engine did not receive 40 GSM packets: $(tail -5 "$work/receive.log")"
grep -q "received [0-9]* gsm packets" "$work/receive.log"
grep -q "^member [0-9]* state=1 sender=2" "$work/receive.log" ||
  fail "GStreamer's source is not a confirmed sender: $(grep member "$work/receive.log")"
echo "ok: $(tail -1 "$work/receive.log")"

echo "== the engine sends GSM RTP to GStreamer, watched by dumpcap"
dumpcap -i lo -f "udp port 12002" -w "$work/capture.pcapng" >"$work/dumpcap.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q "Capturing on" "$work/dumpcap.log" && break; sleep 0.1; done
grep -q "Capturing on" "$work/dumpcap.log" || fail "dumpcap did not start: $(cat "$work/dumpcap.log")"
timeout 30 gst-launch-1.0 -q udpsrc port=12002 num-buffers=50 caps="$gsm_caps" ! \
  rtpgsmdepay ! gsmdec ! audioconvert ! wavenc ! filesink location="$work/out.wav" \
  >"$work/gst-receive.log" 2>&1 &
gst=$!
pids+=($gst)
# GStreamer may take seconds to start on a loaded machine (a registry rebuild): wait for its socket.
for _ in $(seq 200); do [ -n "$(ss -Hlun 'sport = :12002')" ] && break; sleep 0.1; done
"$peer" send 127.0.0.1 12002 50 >"$work/send.log" || fail "engine sender: $(cat "$work/send.log")"
wait "$gst" || fail "GStreamer receiver: $(cat "$work/gst-receive.log")"
size=$(stat -c %s "$work/out.wav")
# 50 frames of 160 samples of 16 bits, after a 44-byte header.
[ "$size" -ge 16000 ] || fail "GStreamer decoded only $size bytes"
echo "ok: GStreamer decoded $size bytes of audio"
sleep 0.5
kill "${pids[1]}" 2>/dev/null || true
wait "${pids[1]}" 2>/dev/null || true

echo "== tshark decodes the engine's packets as RTP"
tshark -r "$work/capture.pcapng" -d udp.port==12002,rtp -T fields \
  -e rtp.version -e rtp.p_type -e rtp.seq -e rtp.timestamp -e rtp.ssrc -e rtp.marker \
  >"$work/fields.txt" 2>"$work/tshark.log" || fail "tshark: $(cat "$work/tshark.log")"
ssrc=$(printf '0x%08x' "$(sed -n 's/^sent ssrc=//p' "$work/send.log")")
awk -v want_ssrc="$ssrc" '
  NR == 1 { seq = $3; ts = $4; if ($6 != 1) bad = "first packet without marker" }
  NR > 1 {
    if ($3 != (seq + 1) % 65536) bad = "sequence " $3 " after " seq
    if ($4 != (ts + 160) % 4294967296) bad = "timestamp " $4 " after " ts
    if ($6 != 0) bad = "marker on packet " NR
    seq = $3; ts = $4
  }
  { if ($1 != 2) bad = "version " $1; if ($2 != 3) bad = "payload type " $2
    if (tolower($5) != want_ssrc) bad = "ssrc " $5 }
  END { if (NR != 50) bad = NR " packets"; if (bad) { print bad; exit 1 } }
' "$work/fields.txt" || fail "tshark's view of the packets: $(head -3 "$work/fields.txt")"
echo "ok: 50 packets, version 2, payload type 3, consecutive sequence and timestamp, SSRC $ssrc"
