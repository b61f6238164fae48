#!/usr/bin/env bash
# Calls from the line to a SIP callee through build/bin/sipline with the simulated board, in
# private network, host-name and mount namespaces: the board's control socket is the line's
# party, SIPp on 127.0.0.1:5062 is the callee of directory entry 100. GStreamer decodes the
# gateway's RTP that reaches the callee; the board's capture holds what the line heard.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-line-XXXXXX)
scenarios=$source/gateway/tests/sipp/callee
harness=$build/tests/media_harness
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then
        kill -KILL "$gateway" 2>/dev/null || true
    fi
    jobs -p | xargs -r kill 2>/dev/null || true
    wait 2>/dev/null || true
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
netns_use_host gw 127.0.0.1 "$work/hosts"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
cd "$work" || exit 1

# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
# shellcheck source=scripts/gsm_listen.sh
. "$source/scripts/gsm_listen.sh"
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }
# measure WAV START LENGTH: the frequency of that piece, as the media tests measure it.
measure() {
    sox "$1" -e signed -b 16 "$work/piece.wav" trim "$2" "$3" 2>/dev/null
    "$harness" --measure "$work/piece.wav" | sed -n 's/.*hz=\([0-9.]*\).*/\1/p'
}
# callee SCENARIO: SIPp answers on 127.0.0.1:5062 in the background ($callee).
callee() {
    timeout 60 sipp -sf "$scenarios/$1.xml" -s 100 -i 127.0.0.1 -p 5062 -mp 6000 -m 1 -nostdin \
        -timeout 45 -timeout_error -trace_err -error_file "$work/$1.err" -trace_msg \
        -message_file "$work/$1.msg" > "$work/$1.out" 2>&1 &
    callee=$!
    wait_udp 5062
}
# dial NUMBER: the line rings, the party waits for the prompt and dials.
cycles=0
dial() {
    [ "$(control ring)" = "OK ringing" ] || fail "the ring was not taken"
    for _ in $(seq 50); do
        [ "$(grep -c '^Enter number to call' "$work/err")" -gt "$cycles" ] && break
        sleep 0.1
    done
    control "digits $1" > /dev/null
    cycles=$((cycles + 1))
}
# idle WHAT: the call is over, the line on-hook and the next cycle ready.
idle() {
    wait_for "$work/out" "Globals inited" "$cycles" "${2:-10}"
    status_is hook on "$1"
}
callee_passed() {
    wait "$callee" || fail "$1: the callee's scenario: $(tail -n 5 "$work/$2.err" 2>/dev/null)"
}

sox -n -r 8000 -c 1 -b 16 "$work/say.wav" synth 30 sine 700 vol 0.25 2> /dev/null
sox -n -r 8000 -c 1 -e u-law "$work/callee.wav" synth 8 sine 1200 vol 0.25 2> /dev/null
: > "$work/out"
: > "$work/err"
BOARDSIM_SAY="$work/say.wav" BOARDSIM_CAPTURE="$work/heard.wav" "$build/bin/sipline" \
    > "$work/out" 2> "$work/err" &
gateway=$!
wait_for "$work/out" "Creating OutTh"

echo "== 100#: INVITE, 180, 200, ACK; audio both ways; a second INVITE gets 503; the line hangs up: BYE (at ${SECONDS}s)"
gsm_listen 12000 "$work/callee-heard.raw" 60
# The callee's RTCP port answers nothing, but must exist for the reports to go on.
socat -u UDP-RECV:12001 /dev/null &
wait_udp 12000 20
wait_udp 12001
callee answer
dial "100#"
wait_for "$work/out" "Ringback"
wait_for "$work/out" "Line call connected"
status_is hook off "during the call"
sipp -sf "$source/gateway/tests/sipp/busy.xml" -s 777 127.0.0.1:5060 -p 5072 -m 1 -nostdin \
    -timeout 10 -timeout_error > "$work/busy.out" 2>&1 || fail "no 503 to an INVITE during the call"
sleep 2.5
control hangup > /dev/null
callee_passed "the answered call" answer
wait_for "$work/out" "Local hangup finished"
idle "after the line hung up"
gsm_listen_stop "$work/callee-heard.raw" "$work/callee-heard.wav"
grep -q "^ACK sip:100@127.0.0.1:5062 SIP/2.0" "$work/answer.msg" || fail "no ACK for the 200"
grep -q "^BYE sip:100@127.0.0.1:5062 SIP/2.0" "$work/answer.msg" || fail "no BYE after the line hung up"
grep -q "^CSeq: 2 BYE" "$work/answer.msg" || fail "the BYE does not count on from the INVITE"
heard=$(soxi -D "$work/callee-heard.wav" 2> /dev/null || echo 0)
hz=$(measure "$work/callee-heard.wav" 0.5 1.5)
within "${hz:-0}" 690 710 ||
    fail "the callee heard ${hz:-nothing} Hz from the line, not 700 (${heard} s decoded)"
echo "ok: the callee decoded ${hz:-nothing} Hz from the gateway's GSM"

echo "== 100#: the callee hangs up first: its BYE is answered 200 and the line goes on-hook (at ${SECONDS}s)"
callee hangs_up
dial "100#"
wait_for "$work/out" "BYE received: setting the event"
callee_passed "the callee's BYE" hangs_up
wait_for "$work/out" "IODONE fininshed"
idle "after the callee's BYE"

echo "== 100#: the callee is busy: 486 is ACKed, a busy tone, the line on-hook (at ${SECONDS}s)"
callee busy
dial "100#"
wait_for "$work/out" "Callee answered 486: busy tone"
callee_passed "486" busy
wait_for "$work/out" "Line call refused"
idle "after the 486"

echo "== 100#: the line hangs up while it rings: CANCEL, 200, 487, ACK (at ${SECONDS}s)"
callee cancelled
rung=$(grep -c '^Ringback' "$work/out")
dial "100#"
wait_for "$work/out" "Ringback" $((rung + 1))
sleep 0.5
control hangup > /dev/null
callee_passed "the CANCEL" cancelled
wait_for "$work/out" "Line call cancelled"
idle "after the CANCEL"

echo "== 100#: the callee never answers: 7 INVITEs (timer A), given up after timer B (at ${SECONDS}s)"
socat -u UDP-RECV:5062 "OPEN:$work/silent.txt,creat,append" &
silent=$!
sleep 0.2
dial "100#"
wait_for "$work/out" "Timer B: no answer from the callee" 1 40
idle "after timer B" 10
kill "$silent" 2> /dev/null
invites=$(grep -c "^INVITE sip:100@127.0.0.1:5062 SIP/2.0" "$work/silent.txt")
[ "$invites" -eq 7 ] || fail "$invites transmissions of the INVITE, not 7"

echo "== what the line heard (at ${SECONDS}s)"
kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
length=$(soxi -D "$work/heard.wav" 2> /dev/null || echo 0)
ringback=0
callee_tone=0
for start in $(seq 0 0.25 "$length"); do
    hz=$(measure "$work/heard.wav" "$start" 0.25)
    within "${hz:-0}" 415 435 && ringback=$((ringback + 1))
    within "${hz:-0}" 1190 1210 && callee_tone=$((callee_tone + 1))
done
[ "$ringback" -ge 3 ] || fail "the line heard no 425 Hz ringback or busy tone ($ringback pieces)"
[ "$callee_tone" -ge 8 ] || fail "the line heard not the callee's 1200 Hz ($callee_tone pieces)"
echo "ok: the line heard 425 Hz in $ringback and the callee's 1200 Hz in $callee_tone quarter seconds"
grep -q "did not end" "$work/err" && fail "an audio thread was left running"

if [ "$failures" -ne 0 ]; then
    echo "--- stdout"; tail -n 150 "$work/out" || true
    echo "--- stderr"; tail -n 50 "$work/err" || true
    exit 1
fi
echo "line calls end-to-end: all passed"
