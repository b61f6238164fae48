#!/usr/bin/env bash
# The call's figures in RTCP on the wire: GStreamer sends the gateway's media bridge a 1 kHz
# tone as PCMU for three seconds; tshark, an independent reader, must find RFC 3611 VoIP
# metrics in the bridge's RTCP about GStreamer's stream: block type 7, no loss nor discard on
# loopback, the fields the gateway does not measure (and R and MOS, as the harness runs without
# the service's E-model) marked unavailable (127), Gmin 16, standard concealment and an
# adaptive buffer of nominal <= maximum <= 200 ms. The bridge receives on
# port 10000, so this runs in a private network namespace.
set -euo pipefail

# shellcheck source=scripts/netns.sh
. "${SIPLINE_SOURCE:?}/scripts/netns.sh"
netns_enter "$0" "$@"

build=${SIPLINE_BUILD:?}
harness="$build/tests/media_harness"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

dumpcap -i lo -f "udp port 13001" -w "$work/wire.pcapng" >"$work/dumpcap.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -qs "Capturing on" "$work/dumpcap.log" && break; sleep 0.1; done
grep -q "Capturing on" "$work/dumpcap.log" || fail "dumpcap did not start: $(cat "$work/dumpcap.log")"
# The peer's RTCP port listens: a refused report would make the socket refuse the next send.
socat -u UDP-RECV:13001 /dev/null &
pids+=($!)
socat -u UDP-RECV:13000 /dev/null &
pids+=($!)

"$harness" 13000 4 >"$work/harness.log" 2>&1 &
harness_pid=$!
pids+=($harness_pid)
sleep 0.3
timeout 20 gst-launch-1.0 -q audiotestsrc wave=sine freq=1000 volume=0.25 num-buffers=150 \
  samplesperbuffer=160 is-live=true ! audio/x-raw,rate=8000,channels=1,format=S16LE ! \
  mulawenc ! rtppcmupay pt=0 ! udpsink host=127.0.0.1 port=10000 >"$work/gst.log" 2>&1 ||
  fail "gst sender: $(cat "$work/gst.log")"
wait "$harness_pid" || fail "harness failed: $(tail -5 "$work/harness.log")"
sleep 0.5
kill "${pids[0]}" 2>/dev/null || true
wait "${pids[0]}" 2>/dev/null || true

tshark -r "$work/wire.pcapng" -d udp.port==13001,rtcp -Y 'rtcp.xr.bt == 7' -T fields \
  -E separator=' ' -e rtcp.pt -e rtcp.xr.bt -e rtcp.ssrc.fraction -e rtcp.ssrc.discarded \
  -e rtcp.xr.voipmetrics.signallevel -e rtcp.xr.voipmetrics.rfactor \
  -e rtcp.xr.voipmetrics.moslq -e rtcp.xr.voipmetrics.gmin -e rtcp.xr.voipmetrics.plc \
  -e rtcp.xr.voipmetrics.jba -e rtcp.xr.voipmetrics.jbnominal -e rtcp.xr.voipmetrics.jbmax \
  -e rtcp.xr.voipmetrics.jbabsmax >"$work/xr.txt" 2>"$work/tshark.log" ||
  fail "tshark: $(cat "$work/tshark.log")"
[ -s "$work/xr.txt" ] || fail "no XR VoIP metrics block on the wire: $(tshark -r "$work/wire.pcapng" \
  -d udp.port==13001,rtcp -T fields -e rtcp.pt 2>/dev/null | tr '\n' ' ')"
last=$(tail -1 "$work/xr.txt")
echo "tshark: $last"
# rtcp.pt lists every packet of the compound; the block's fields follow one each.
read -r pts bt loss discard signal rfactor moslq gmin plc jba nominal most absmax <<<"$last"
[[ "$pts" == *207* ]] || fail "no XR packet: $pts"
loss=${loss##*,}  # the report blocks' fraction lost comes first
[ "$bt" = 7 ] || fail "block type $bt"
[ "$loss" = 0 ] && [ "$discard" = 0 ] || fail "loss $loss or discard $discard on loopback"
[ "$signal" = 127 ] && [ "$rfactor" = 127 ] && [ "$moslq" = 127 ] ||
  fail "unmeasured fields not 127: signal $signal, R $rfactor, MOS-LQ $moslq"
[ "$gmin" = 16 ] || fail "Gmin $gmin"
[ "$plc" = 3 ] || fail "concealment $plc, not standard (3)"
[ "$jba" = 3 ] || fail "jitter buffer $jba, not adaptive (3)"
[ "$absmax" = 200 ] || fail "absolute maximum $absmax ms"
[ "$nominal" -ge 20 ] && [ "$nominal" -le "$most" ] && [ "$most" -le 200 ] ||
  fail "buffer nominal $nominal ms, maximum $most ms"
echo "ok: VoIP metrics on the wire, $(wc -l <"$work/xr.txt") block(s)"
