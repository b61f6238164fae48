#!/usr/bin/env bash
# The gateway's main job: sipline starts with the simulated voice board in a private network
# namespace; a SIP caller (SIPp) calls a number on the line, which is dialled, answered 200,
# acknowledged and ended with a BYE; then the line rings, its caller dials 101 and gets the
# media of that directory entry until hanging up; sipline is stopped cleanly.
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
hostname gw
printf '127.0.0.1 gw localhost\n' > "$work/hosts"
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

echo "== sipline starts (its first lines)"
(cd "$work" && exec "$build/bin/sipline" > "$work/out" 2>&1) &
gateway=$!
wait_for "Creating OutTh"
head -n 5 "$work/out"
lines=$(wc -l < "$work/out")
# What the gateway printed since the last look, without the headers and bodies of messages.
news() {
    tail -n +"$((lines + 1))" "$work/out" | grep -Ev '^([A-Z][A-Za-z-]*: |[vosctm]=|$)' |
        grep -Ev '^(Received packet|Sending [0-9]+ bytes|ProcessEvent entered|Inserting new or earlier|Rescheduling)' || true
    lines=$(wc -l < "$work/out")
}

echo
echo "== a SIP caller (SIPp) calls 5551234@gw: 100, the line dialled, 200 with the offer, ACK, BYE"
echo "\$ sipp -sf gateway/tests/sipp/call.xml -s 5551234 127.0.0.1:5060 -m 1 -d 2000"
sipp -sf "$source/gateway/tests/sipp/call.xml" -s 5551234 127.0.0.1:5060 -m 1 -l 1 -d 2000 \
    -p 5071 -nostdin -timeout 30 -timeout_error > "$work/sipp.out" 2>&1 &
caller=$!
wait_for "Exiting ST_TXDIAL"
control status
wait "$caller" && echo "(SIPp: the call succeeded)" || echo "(SIPp: the call FAILED)"
wait_for "Globals inited"
news
control status

echo
echo "== the line rings; its caller dials 101# and gets the media of that directory entry"
control ring
wait_for "ST_RXOFFHK"
control "digits 101#"
wait_for "Line call connected"
sleep 0.5
control hangup
for _ in $(seq 50); do
    [ "$(grep -c 'Globals inited' "$work/out")" -ge 2 ] && break
    sleep 0.1
done
news
control status

echo
echo "== SIGTERM ends sipline"
kill -TERM "$gateway"
status=0
wait "$gateway" || status=$?
gateway=
news
echo "(exit status $status)"

cat <<'EOT'

What is built: start-up in its fixed order, the simulated voice board with its line and
control socket, the SIP user-agent server on port 5060, and the call state machine: SIP calls
onto the line (off-hook, dial, 200 with the offer until the ACK, media, BYE or CANCEL or the
line's hang-up), calls from the line (enter.vox, digits to "#", the three-number directory,
notfound.vox or the entry's media), and the media bridge (InTh, OutTh, the RTCP schedule). Here
no one listens at the caller's media port 4000, hence the "Send error" lines.
EOT
