#!/usr/bin/env bash
# Runs every fuzz target built in $1/fuzz for $2 seconds each (default 20), from a copy of its
# seed corpus so that the committed seeds stay small; $FUZZ_JOBS targets at a time (default: the
# core count), since each keeps one core busy. Exits non-zero if any target finds something.
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
jobs=${FUZZ_JOBS:-$(nproc)}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# fuzz_one TARGET: runs it and leaves its one-line verdict in $work/NAME.result.
fuzz_one() {
  local target=$1 name
  name=$(basename "$target")
  mkdir -p "$work/$name"
  if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/$name/"; fi
  if "$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/$name-" "$work/$name" >"$work/$name.log" 2>&1; then
    printf 'fuzz %-28s %3ss ... ok (%s runs)\n' "$name" "$seconds" \
      "$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/$name.log" | awk '{print $2}')" >"$work/$name.result"
  else
    { printf 'fuzz %-28s %3ss ... FINDING\n' "$name" "$seconds"; tail -n 40 "$work/$name.log"; } >"$work/$name.result"
  fi
}

targets=()
for target in "$build"/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] && targets+=("$target")
done
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  fuzz_one "$target" &
done
wait
status=0
for target in "${targets[@]}"; do
  cat "$work/$(basename "$target").result"
  grep -q ' FINDING$' "$work/$(basename "$target").result" && status=1
done
exit $status
