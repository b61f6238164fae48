#!/usr/bin/env bash
# A long call through bin/sipline in private namespaces: session refreshes by UPDATE every 45 s,
# a hold and resume every 5 minutes (bench/long_call.py), RSS and threads of the gateway every
# 30 s. Usage: bench/long_call.sh [build] [seconds, default 1800]; LONG_CALL_REFRESH and
# LONG_CALL_HOLD (seconds) change the two periods.
set -uo pipefail
build=$(realpath "${1:-build}")
seconds=${2:-1800}
source_dir=$(realpath "$(dirname "$0")/..")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-longcall-XXXXXX)
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
cleanup() {
    gateway_stop
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
gateway_start "$work/gateway" || exit 1
sample() {
    printf '%s rss_kb=%s threads=%s\n' "$1" "$(awk '/VmRSS/ { print $2 }' /proc/$gateway_pid/status)" \
        "$(awk '/Threads/ { print $2 }' /proc/$gateway_pid/status)"
}
"${netns_caller[@]}" python3 "$source_dir/bench/long_call.py" "$gateway_address" 5551234 \
    "$caller_address" "$seconds" "${LONG_CALL_REFRESH:-45}" "${LONG_CALL_HOLD:-300}" \
    >"$work/peer.out" 2>&1 &
peer=$!
start=$(date +%s)
while kill -0 "$peer" 2>/dev/null; do
    sample "t=$(($(date +%s) - start))s"
    for _ in $(seq 30); do kill -0 "$peer" 2>/dev/null || break; sleep 1; done
done
wait "$peer"
status=$?
cat "$work/peer.out"
sleep 1
sample "after the call"
echo "gateway: $(grep -c 'Session timer:' "$work/gateway/out") session timer starts, $(grep -c '^UPDATE: \|UPDATE without an offer' "$work/gateway/out") refreshes taken, $(grep -c '^INVITE: ' "$work/gateway/out") re-INVITEs answered"
exit $status
