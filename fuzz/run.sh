#!/usr/bin/env bash
# Runs every fuzz target built in $1/fuzz for $2 seconds each (default 20), from a copy of its
# seed corpus so that the committed seeds stay small. Exits non-zero on the first finding.
set -euo pipefail
build=${1:?build folder}
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in "$build"/fuzz/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$work/$name"
  if [ -d "$here/corpus/$name" ]; then cp -r "$here/corpus/$name/." "$work/$name/"; fi
  printf 'fuzz %-28s %3ss ... ' "$name" "$seconds"
  if "$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/" "$work/$name" >"$work/$name.log" 2>&1; then
    echo "ok ($(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/$name.log" | awk '{print $2}') runs)"
  else
    echo "FINDING"; tail -n 40 "$work/$name.log"; status=1
  fi
done
exit $status
