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
echo "== a SIP caller sends an INVITE for 5551234@sipline-demo"
sdp=$'v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\nt=0 0\r\nm=audio 20000 RTP/AVP 0 3\r\n'
echo "(the caller on the line gives up ringing first)"
control hangup
printf 'INVITE sip:5551234@sipline-demo SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:5070;branch=z9hG4bK-demo\r\nFrom: <sip:alice@127.0.0.1:5070>;tag=a1\r\nTo: <sip:5551234@sipline-demo>\r\nCall-ID: demo-1@127.0.0.1\r\nCSeq: 1 INVITE\r\nContact: <sip:alice@127.0.0.1:5070>\r\nContent-Type: application/sdp\r\nContent-Length: %d\r\n\r\n%s' \
    "${#sdp}" "$sdp" | socat -u - UDP-SENDTO:127.0.0.1:5060,sourceport=5070
wait_for "EV_WAKEUP code 0 on dxxxB1C1 in state 9"
sleep 0.2
grep -E '^(SIP/2.0 100|ProcessEvent)' <(tail -n +"$((lines + 1))" "$work/out")
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
the SIP user-agent server on port 5060 (it answers the INVITE 100 and wakes the state machine),
and the cycle of calls that hands each board event to ProcessEvent.
Not built yet: the call state machine (ProcessEvent only prints the event, so neither the ring
nor the INVITE is answered further), and the media bridge (InTh, OutTh and the RTCP schedule
are placeholders). The RTP/RTCP engine they will drive is built and tested on its own
(ctest -L rtp in build/, with GStreamer and tshark as its peers).
EOT
