#!/usr/bin/env bash
# Runs every benchmark program built in $1/bench, then the benchmark scripts that need traces.
set -euo pipefail
build=${1:-build}
for b in "$build"/bench/*; do
  [ -x "$b" ] && [ -f "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
# The jitter buffer against GStreamer's on the relay's seeded traces (takes about a minute).
echo "== jitter_traces"
"$(dirname "$0")/../bench/jitter_traces.sh" "$build"
