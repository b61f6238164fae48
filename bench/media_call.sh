#!/usr/bin/env bash
# One connected call through the media bridge with audio both ways, on the simulated line:
# GStreamer sends GSM at 50 packets a second to port 10000 and receives the bridge's GSM, the
# line says a tone. Reports the process's CPU time as a share of one core beside libgsm's own
# cost (the floor), the path latency added by the bridge in each direction (p50, p99), and
# whether every packet and every recorded block came through once, and per thread of the process
# (the bridge's InTh, OutTh, RTPSchedule; the simulated board's clock and control apart) the
# wake-ups and the CPU time per 20 ms frame in mid-call. Private network namespace.
# With PCMU, both sides send mu-law (payload type 0) instead, as after an offer of PCMU alone.
# The line echo canceller is on as in a call; MEDIA_HARNESS_ECHO_CANCEL=0 turns it off, and
# MEDIA_CALL_WAVE=pink-noise sends noise instead of the tone (the canceller does not learn from
# a tone: noise keeps it learning, at its full cost).
# Usage: bench/media_call.sh [build folder] [seconds] [GSM|PCMU]
set -uo pipefail

if [ -z "${SIPLINE_NETNS:-}" ]; then
  exec env SIPLINE_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up

build=$(realpath "${1:-build}")
seconds=${2:-60}
codec=${3:-GSM}
case "$codec" in
  GSM) encode="gsmenc ! rtpgsmpay pt=3" ;;
  PCMU) encode="mulawenc ! rtppcmupay pt=0 min-ptime=20000000 max-ptime=20000000" ;;
  *) echo "media_call: codec GSM or PCMU, not $codec" >&2; exit 2 ;;
esac
harness="$build/tests/media_harness"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export BOARDSIM_CONTROL="$work/boardsim.sock"

sox -n -r 8000 -c 1 -b 16 "$work/say.wav" synth 10 sine 700 vol 0.25
dumpcap -q -i lo -f "udp port 10000 or udp port 12000" -w "$work/wire.pcapng" 2>"$work/dumpcap.log" &
pids+=($!)
sleep 1
gst-launch-1.0 -q udpsrc port=12000 ! fakesink >/dev/null 2>&1 &
pids+=($!)
socat -u UDP-RECV:12001 /dev/null &
pids+=($!)
frames=$((seconds * 50 - 100))
MEDIA_HARNESS_CODEC=$codec MEDIA_HARNESS_BENCH=1 BOARDSIM_SAY="$work/say.wav" "$harness" 12000 "$seconds" >"$work/harness.log" 2>&1 &
harness_pid=$!
pids+=($harness_pid)
# Per thread: name, voluntary and involuntary context switches, CPU nanoseconds.
snapshot() {
  for task in /proc/"$harness_pid"/task/*; do
    echo "$(tr ' ' _ <"$task/comm") $(awk '/^voluntary_ctxt/ {v = $2} /^nonvoluntary_ctxt/ {n = $2}
      END {print v, n}' "$task/status") $(cut -d' ' -f1 "$task/schedstat")"
  done 2>/dev/null
}
window=$((seconds > 8 ? seconds - 5 : 3))
(sleep 3; snapshot >"$work/threads_before.txt"; sleep "$window"; snapshot >"$work/threads_after.txt") &
pids+=($!)
sleep 1
gst-launch-1.0 -q audiotestsrc wave="${MEDIA_CALL_WAVE:-sine}" freq=1000 volume=0.25 is-live=true num-buffers=$frames \
  samplesperbuffer=160 ! audio/x-raw,rate=8000,channels=1 ! $encode ! \
  udpsink host=127.0.0.1 port=10000 >/dev/null 2>&1
wait "$harness_pid"
sleep 0.5
kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null

echo "codec: $codec"
# Threads of one name are summed (the board's, the harness's main thread, and what the host layer
# starts); the board's clock and control are the simulated board's own cost, not the bridge's.
awk -v frames=$((window * 50)) 'NR == FNR { v[$1] -= $2; n[$1] -= $3; ns[$1] -= $4; next }
  { v[$1] += $2; n[$1] += $3; ns[$1] += $4; seen[$1] = 1 }
  END { for (t in seen) printf "wake-ups per frame: %-14s %6.2f voluntary %5.2f involuntary, %7.1f us CPU\n",
          t, v[t] / frames, n[t] / frames, ns[t] / frames / 1000 }' \
  "$work/threads_before.txt" "$work/threads_after.txt" | sort -k4
grep -E '^(cpu|bridge cpu|thread|in|out|gsm floor|status)' "$work/harness.log"
grep -E "RTPSend|Send error" "$work/harness.log" | head -3
# The bridge's own threads: the process's total also holds the simulated board's clock.
cpu=$(awk '/^bridge cpu/ {print $3}' "$work/harness.log")
wall=$(awk '/^bridge cpu/ {print $6}' "$work/harness.log")
floor=$(awk '/^gsm floor/ {print $3}' "$work/harness.log")
goal=$([ "$codec" = GSM ] && echo 0.15 || echo 0.10)
awk -v c="$cpu" -v w="$wall" -v f="$floor" -v g="$goal" 'BEGIN {
  printf "CPU per call: %.3f %% of one core (goal <= %s %%); libgsm floor %.3f %%\n", 100 * c / w, g, 100 * f / w }'

sent_in=$(tshark -r "$work/wire.pcapng" -Y "udp.dstport == 10000" 2>/dev/null | wc -l)
accepted=$(awk '/^in:/ {print $2}' "$work/harness.log")
committed=$(awk '/^in:/ {print $5}' "$work/harness.log")
echo "in: GStreamer sent $frames frames, $sent_in datagrams on the wire; InTh took $accepted, committed $committed blocks"
recorded=$(sed -n 's/.*recorded=\([0-9]*\).*/\1/p' "$work/harness.log")
blocks_out=$(awk '/^out:/ {print $2}' "$work/harness.log")
packets_out=$(awk '/^out:/ {print $5}' "$work/harness.log")
tshark -r "$work/wire.pcapng" -d udp.port==12000,rtp -Y "udp.dstport == 12000 && rtp" -T fields \
  -e rtp.seq -e rtp.timestamp 2>/dev/null >"$work/out.txt"
on_wire=$(wc -l <"$work/out.txt")
order=$(awk 'NR > 1 && (($1 - s + 65536) % 65536 != 1 || ($2 - t + 4294967296) % 4294967296 != 160) {
    bad++; printf "  after packet %d: seq %d ts %d then seq %d ts %d\n", NR - 1, s, t, $1, $2 > "/dev/stderr" }
  { s = $1; t = $2 } END { print bad + 0 }' "$work/out.txt")
echo "out: board recorded $((recorded / 160)) frames' worth; OutTh took $blocks_out blocks, sent $packets_out packets; $on_wire on the wire, $order out of order, lost or doubled"
