#!/usr/bin/env bash
# A call from the line to a SIP callee, shown as it happens: sipline starts with the simulated
# voice board in a private network namespace; the line rings with the caller's identity (Bell
# 202 caller ID, 5551234 "Ada Lovelace"), its party dials 100#, the gateway sends an INVITE from
# that caller to the directory entry's URI, where SIPp answers (180, then 200 with its SDP), gets
# its ACK and streams a 1200 Hz tone while the line's party says 700 Hz; the line's party
# hangs up and the callee gets the BYE. The SIP ladder is read from the loopback with tshark.
# Leaves in OUT_DIR: line-heard.wav (what the line's party heard: the prompt, the 425 Hz
# ringback, the callee), callee-heard.wav (the gateway's GSM as the callee received it).
# Usage: scripts/demo_line_to_sip.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-demo-out}")
source=$(realpath "$(dirname "$0")/..")
mkdir -p "$out"
# shellcheck source=scripts/netns.sh
. "$source/scripts/netns.sh"
# shellcheck source=scripts/gsm_listen.sh
. "$source/scripts/gsm_listen.sh"
netns_enter "$0" "$build" "$out"

work=$(mktemp -d /tmp/sipline-line-demo-XXXXXX)
cleanup() {
    jobs -p | xargs -r kill 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
netns_use_host gw 127.0.0.1 "$work/hosts"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
cd "$work"

# say [-t EPOCH] TEXT: one line of the story, stamped with seconds since the start.
say() {
    local at
    at=$(date +%s.%N)
    if [ "$1" = -t ]; then
        at=$2
        shift 2
    fi
    printf '%6.2f s  %s\n' "$(awk -v s="$start" -v n="$at" 'BEGIN { print n - s }')" "$*"
}
control() {
    say "line: $1 -> $(printf '%s\n' "$1" | socat -t 2 - "UNIX-CONNECT:$work/boardsim.sock")"
}
wait_for() {
    for _ in $(seq "${2:-100}"); do
        grep -qF -- "$1" "$work/out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "demo: \"$1\" did not appear" >&2
    return 1
}

sox -n -r 8000 -c 1 -b 16 say.wav synth 30 sine 700 vol 0.25 2>/dev/null
sox -n -r 8000 -c 1 -e u-law callee.wav synth 10 sine 1200 vol 0.25 2>/dev/null
start=$(date +%s.%N)

# The SIP ladder as tshark reads it off the loopback, one line per message, stamped with the
# time the message was on the wire (tshark shows it a little later).
tshark -l -i lo -f "udp port 5060 or udp port 5062" -d udp.port==5062,sip -Y sip -T fields \
    -e frame.time_epoch -e udp.srcport -e udp.dstport -e sip.Request-Line -e sip.Status-Line \
    -e sip.From -E separator='|' 2>/dev/null |
    while IFS='|' read -r at from to request status caller; do
        if [ "$from" = 5060 ]; then arrow="gateway --> callee"; else arrow="gateway <-- callee"; fi
        say -t "$at" "SIP  $arrow  ${request:-$status}"
        case $request in INVITE*) say -t "$at" "SIP  the INVITE's From: $caller" ;; esac
    done &
# The gateway's state changes and the line's events, from its own output.
: > out
# The exchange sends the caller's identity (Bell 202) between the first and second ring.
printf '[line]\ncaller_id = "bell"\n' > "$work/line.toml"
BOARDSIM_CID=bell BOARDSIM_SAY="$work/say.wav" BOARDSIM_CAPTURE="$out/line-heard.wav" \
    "$build/bin/sipline" --config "$work/line.toml" > out 2> err &
gateway=$!
tail -n +1 -F out 2>/dev/null |
    grep --line-buffered -E '^(ST_[A-Z]+|Caller ID|Calling|Ringback|Line call connected|Sending BYE|Local hangup finished|Globals inited)' |
    while read -r line; do say "line state: $line"; done &
wait_for "Creating OutTh"
sleep 1.5
say "sipline is up; the callee (SIPp) answers sip:100@127.0.0.1:5062"

gsm_listen 12000 "$work/callee-heard.raw" 60
socat -u UDP-RECV:12001 /dev/null &
timeout 30 sipp -sf "$source/gateway/tests/sipp/callee/answer.xml" -s 100 -i 127.0.0.1 -p 5062 \
    -mp 6000 -m 1 -nostdin -timeout 25 -timeout_error >"$work/sipp.out" 2>&1 &
callee=$!
# The callee and its media port must be bound before the INVITE and the RTP reach them.
for port in 5062 12000 12001; do
    for _ in $(seq 100); do [ -n "$(ss -Hlun "sport = :$port")" ] && break; sleep 0.1; done
done

control 'ring 5551234 "Ada Lovelace"'
for _ in $(seq 100); do grep -q "Enter number to call" err && break; sleep 0.1; done
control "digits 100#"
wait_for "Line call connected" 100
say "audio flows both ways for 3 s"
sleep 3
control hangup
status=0
wait "$callee" || status=$?
[ "$status" -eq 0 ] && say "the callee's scenario passed" || say "the callee's scenario FAILED"
wait_for "Globals inited" 50 || true
sleep 0.5
control status
gsm_listen_stop "$work/callee-heard.raw" "$out/callee-heard.wav"
kill -TERM "$gateway"
wait "$gateway" || true
sleep 0.3

measure() {
    sox "$1" -e signed -b 16 "$work/piece.wav" trim "$2" "$3" 2>/dev/null &&
        "$build/tests/media_harness" --measure "$work/piece.wav" | sed -n 's/.*hz=\([0-9.]*\).*/\1/p'
}
echo
echo "The callee decoded $(measure "$out/callee-heard.wav" 1 2) Hz from the line (the line's party says 700 Hz)."
length=$(soxi -D "$out/line-heard.wav")
echo "The line heard $(measure "$out/line-heard.wav" "$(awk -v l="$length" 'BEGIN { print l - 2 }')" 1.5) Hz at the end (the callee streams 1200 Hz)."
echo "WAVs: $out/line-heard.wav $out/callee-heard.wav"
