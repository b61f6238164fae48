#!/usr/bin/env bash
# Load on the user-agent server: OPTIONS (answered 501) from SIPp at rising rates, 30 s per
# rate, inside a private network namespace. Reports the highest rate answered without loss,
# with the server's peak resident memory and thread count.
# Usage: bench/uas_load.sh [build folder] [seconds per rate] [rates...]
set -uo pipefail

if [ -z "${SIPLINE_NETNS:-}" ]; then
  exec env SIPLINE_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up

build=${1:-build}
seconds=${2:-30}
shift 2 2>/dev/null
rates=("$@")
[ ${#rates[@]} -eq 0 ] && rates=(100 200 400 800 1200 1600 2400 3200)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
server=

cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$build/tests/uas_harness" >/dev/null 2>"$work/server.err" &
server=$!
sleep 0.5

best=0
peak_threads=0
for rate in "${rates[@]}"; do
  calls=$((rate * seconds))
  timeout $((seconds * 3 + 30)) sipp -sf "$here/uas_options.xml" -s 1234 127.0.0.1:5060 \
    -r "$rate" -m "$calls" -l $((rate * 4)) -nostdin -p 5070 -timeout $((seconds * 3)) \
    -trace_screen -screen_file "$work/screen.$rate" >/dev/null 2>&1 &
  load=$!
  threads=0
  while kill -0 "$load" 2>/dev/null; do
    t=$(awk '/^Threads:/ {print $2}' "/proc/$server/status")
    [ "${t:-0}" -gt "$threads" ] && threads=$t
    sleep 0.2
  done
  wait "$load"
  result=$?
  [ "$threads" -gt "$peak_threads" ] && peak_threads=$threads
  ok=$(awk -F'|' '/Successful call/ {gsub(/ /, "", $3); print $3}' "$work/screen.$rate" | tail -n 1)
  failed=$(awk -F'|' '/Failed call/ {gsub(/ /, "", $3); print $3}' "$work/screen.$rate" | tail -n 1)
  echo "rate ${rate}/s: ${ok:-?} answered, ${failed:-?} lost, up to $threads threads"
  if [ "$result" -ne 0 ] || [ "${failed:-1}" != 0 ] || [ "${ok:-0}" != "$calls" ]; then
    break
  fi
  best=$rate
done
rss=$(awk '/^VmHWM:/ {print $2, $3}' "/proc/$server/status")
echo "highest rate without loss for ${seconds} s: ${best} OPTIONS/s"
echo "server peak RSS: $rss; peak threads: $peak_threads"
