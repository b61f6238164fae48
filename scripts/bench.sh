#!/usr/bin/env bash
# Runs every benchmark program built in $1/bench.
set -euo pipefail
build=${1:-build}
for b in "$build"/bench/*; do
  [ -x "$b" ] && [ -f "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
