#!/bin/bash
# The jitter buffer's figures on three seeded traces (60 s each) of the impairment relay's model:
# mild, moderate (the test's: 20 ms mean jitter, 100 ms stalls, 3 % loss in bursts of 1-3, 1 %
# reordering) and harsh. Usage: bench/jitter_traces.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
relay() { python3 "$here/scripts/impair_relay.py" --listen 0 --to 127.0.0.1:9 --simulate 3000 "$@"; }
relay --seed 1 --jitter-ms 5 --loss 0.5 --trace "$work/mild-5ms" 
relay --seed 2 --jitter-ms 20 --spike-ms 100 --spike-every 5 --loss 3 --burst-most 3 \
    --reorder 1 --dup 1 --trace "$work/moderate-20ms-stalls"
relay --seed 3 --jitter-ms 40 --spike-ms 200 --spike-every 3 --loss 8 --burst-most 3 \
    --reorder 3 --dup 2 --trace "$work/harsh-40ms-stalls"
"$build/bench/jitter_bench" "$work"/mild-5ms "$work"/moderate-20ms-stalls "$work"/harsh-40ms-stalls
