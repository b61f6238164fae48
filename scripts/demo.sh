#!/usr/bin/env bash
# The gateway's main job, as far as it is built: sipline starts with the simulated voice board in
# a private network namespace, the line rings, the ring reaches the call state machine, and
# sipline is stopped cleanly.
set -euo pipefail
build=$(realpath "${1:-build}")
source=$(realpath "$(dirname "$0")/..")
if [ -z "${SIPLINE_DEMO_INSIDE:-}" ]; then
    exec unshare --net --uts --mount env SIPLINE_DEMO_INSIDE=1 bash "$0" "$build"
fi
ip link set lo up
mount --make-rprivate /
work=$(mktemp -d /tmp/sipline-demo-XXXXXX)
gateway=
cleanup() {
    [ -n "$gateway" ] && kill -KILL "$gateway" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# The namespace's own host name, known to its own /etc/hosts.
hostname sipline-demo
printf '127.0.0.1 localhost\n127.0.1.1 sipline-demo\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"

wait_for() {
    for _ in $(seq 100); do
        grep -qF -- "$1" "$work/out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "demo: \"$1\" did not appear" >&2
    return 1
}
control() {
    echo "\$ echo $1 | socat - UNIX-CONNECT:boardsim.sock"
    printf '%s\n' "$1" | socat -t 2 - "UNIX-CONNECT:$work/boardsim.sock"
}

echo "== sipline starts (stdout and stderr as they come)"
(cd "$work" && exec env BOARDSIM_CAPTURE="$work/heard.wav" "$build/bin/sipline" \
    > "$work/out" 2>&1) &
gateway=$!
wait_for "Creating OutTh"
cat "$work/out"
lines=$(wc -l < "$work/out")

echo
echo "== the far party rings the line"
control status
control ring
wait_for "TDX_CST code 1 on dxxxB1C1"
sleep 0.2
tail -n +"$((lines + 1))" "$work/out"
lines=$(wc -l < "$work/out")

echo
echo "== SIGTERM ends sipline"
kill -TERM "$gateway"
status=0
wait "$gateway" || status=$?
gateway=
tail -n +"$((lines + 1))" "$work/out"
echo "(exit status $status)"

cat <<'EOT'

What is built: start-up in its fixed order (board, host identity, SDP offer, events, threads),
the simulated voice board with its line and control socket, the channels and their streams,
and the cycle of calls that hands each board event to ProcessEvent.
Not built yet: the call state machine (ProcessEvent only prints the event, so the ring is not
answered), the SIP user-agent server (nothing listens on port 5060), the media bridge (InTh,
OutTh and the RTCP schedule are placeholders) and its RTP engine.
EOT
