#!/bin/bash
# The jitter buffer's figures on three seeded traces (60 s each) of the impairment relay's model:
# mild, moderate (the test's: 20 ms mean jitter, 100 ms stalls, 3 % loss in bursts of 1-3, 1 %
# reordering) and harsh; then the same traces replayed in real time through GStreamer's
# rtpjitterbuffer (bench/jitter_gst.py, about a minute, the three side by side) and the delay
# each needs at equal late loss. Usage: bench/jitter_traces.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
traces=(mild-5ms moderate-20ms-stalls harsh-40ms-stalls)
relay() { python3 "$here/scripts/impair_relay.py" --listen 0 --to 127.0.0.1:9 --simulate 3000 "$@"; }
relay --seed 1 --jitter-ms 5 --loss 0.5 --trace "$work/mild-5ms"
relay --seed 2 --jitter-ms 20 --spike-ms 100 --spike-every 5 --loss 3 --burst-most 3 \
    --reorder 1 --dup 1 --trace "$work/moderate-20ms-stalls"
relay --seed 3 --jitter-ms 40 --spike-ms 200 --spike-every 3 --loss 8 --burst-most 3 \
    --reorder 3 --dup 2 --trace "$work/harsh-40ms-stalls"
"$build/bench/jitter_bench" "${traces[@]/#/$work/}" | tee "$work/ours"

if ! /usr/bin/python3 -c 'import gi; gi.require_version("Gst", "1.0")' 2>/dev/null; then
  echo "GStreamer comparison skipped: python3-gi and gir1.2-gstreamer-1.0 are not installed"
  exit 0
fi
for t in "${traces[@]}"; do
  timeout -k 5 150 /usr/bin/python3 "$here/bench/jitter_gst.py" "$work/$t" >"$work/$t.gst" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid"; done
pids=()
echo
echo "GStreamer rtpjitterbuffer (mode=slave), real-time replay: latency ms, late %, p50, p99 ms"
cat "$work"/*.gst
echo
# Equal late loss: GStreamer's least latency that loses no more than ours, with a floor of
# 0.1 % (three packets) for the replay's own scheduling noise on a loaded machine.
printf '%-22s %8s %8s | %8s %8s %8s | %s\n' trace "late %" "p50 ms" "gst lat" "late %" \
  "p50 ms" "gst/ours p50"
for t in "${traces[@]}"; do
  awk -v t="$t" -v ours="$(grep "^$t " "$work/ours")" '
    BEGIN { split(ours, o, " "); late = o[2]; p50 = o[4]; want = late < 0.1 ? 0.1 : late }
    $1 == t && $4 <= want && !found { found = 1; lat = $3; gl = $4; gp = $5 }
    END {
      if (found) printf "%-22s %8.2f %8.0f | %8d %8.2f %8.0f | %.2f\n", t, late, p50, lat, gl, gp, gp / (p50 > 0 ? p50 : 1)
      else printf "%-22s %8.2f %8.0f | no latency tried loses <= %.2f %%\n", t, late, p50, want
    }' "$work/$t.gst"
done
