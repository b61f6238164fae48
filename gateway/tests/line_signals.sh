#!/usr/bin/env bash
# The line's own signals through build/bin/sipline with the simulated exchange, in private
# namespaces: for each caller-ID standard the ring carries "Ada Lovelace" 5551234 and the SIP
# callee (SIPp on 127.0.0.1:5062, directory entry 100) sees that identity in the INVITE's From; a
# damaged identity gives an anonymous From and the call goes on; the far party's disconnect tone
# ends a call with a BYE within 2 s of its second cadence; a caller who gives up before the
# answer leaves the gateway idle; with silence_hangup, a far party fallen silent is hung up on.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-signals-XXXXXX)
scenarios=$source/gateway/tests/sipp/callee
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

sox -n -r 8000 -c 1 -e u-law "$work/callee.wav" synth 8 sine 1200 vol 0.25 2> /dev/null
sox -n -r 8000 -c 1 -b 16 "$work/say.wav" synth 30 sine 700 vol 0.25 2> /dev/null
# A far party who says a word, then nothing for 5 s (the board repeats it).
sox -n -r 8000 -c 1 -b 16 "$work/word.wav" synth 0.3 sine 700 vol 0.25 pad 0 5 2> /dev/null

# callee NAME: SIPp answers the next INVITE on 127.0.0.1:5062 in the background ($callee).
callee() {
    timeout 60 sipp -sf "$scenarios/answer.xml" -s 100 -i 127.0.0.1 -p 5062 -mp 6000 -m 1 \
        -nostdin -timeout 45 -timeout_error -trace_err -error_file "$work/$1.err" -trace_msg \
        -message_file "$work/$1.msg" > "$work/$1.out" 2>&1 &
    callee=$!
    wait_udp 5062
}
# start STANDARD [EXTRA-LINE-SETTINGS]: a gateway whose line sends and reads caller ID that way.
start() {
    [ -n "$gateway" ] && { kill "$gateway" 2>/dev/null; wait "$gateway" 2>/dev/null; }
    printf '[log]\naccess_log = "%s"\n[line]\ncaller_id = "%s"\ndisconnect_tone = ["etsi"]\n%s\n' \
        "$work/access-$1.log" "$1" "${2:-}" > "$work/$1.toml"
    : > "$work/out"
    : > "$work/err"
    cycles=0
    BOARDSIM_CID=$1 BOARDSIM_RING=1000/2500 BOARDSIM_DISCONNECT=tone BOARDSIM_SAY="${say:-$work/say.wav}" \
        "$build/bin/sipline" --config "$work/$1.toml" > "$work/out" 2> "$work/err" &
    gateway=$!
    wait_for "$work/out" "Creating OutTh"
}
# call RING-ARGUMENTS: the line rings with that caller, is answered, and the caller dials 100#.
call() {
    [ "$(control "ring $1")" = "OK ringing" ] || fail "ring $1 was not taken"
    wait_for "$work/err" "Enter number to call" $((cycles + 1)) 15 || return 1
    control "digits 100#" > /dev/null
    cycles=$((cycles + 1))
    wait_for "$work/out" "Line call connected" "$cycles" 10
}
# hang_up NAME: the far party hangs up by the disconnect tone; the BYE must follow within 3 s
# (the tone's second cadence starts 1 s after the hang-up).
hang_up() {
    local start=$SECONDS
    control hangup > /dev/null
    wait "$callee" || fail "$1: the callee's scenario: $(tail -n 5 "$work/$1.err" 2>/dev/null)"
    wait_for "$work/out" "The line's party has hung up (disconnect tone)" "$cycles" 5
    [ $((SECONDS - start)) -le 3 ] || fail "$1: the BYE took $((SECONDS - start)) s after the hang-up"
    grep -q "^BYE sip:100@127.0.0.1:5062 SIP/2.0" "$work/$1.msg" || fail "$1: no BYE"
    wait_for "$work/out" "Globals inited" "$cycles" 10
    status_is hook on "$1: after the disconnect tone"
}
from_is() {
    grep -q "^From: $2;tag=" "$work/$1.msg" ||
        fail "$1: the INVITE's From is \"$(grep -m1 '^From:' "$work/$1.msg")\", not $2"
}

for standard in bell v23 dtmf; do
    echo "== $standard: the identity reaches the callee's From and the access log (at ${SECONDS}s)"
    extra=
    [ "$standard" = dtmf ] && extra="answer_after_rings = 4"
    start "$standard" "$extra"
    callee "$standard"
    call '5551234 "Ada Lovelace"'
    name='"Ada Lovelace" '
    [ "$standard" = dtmf ] && name=  # DTMF caller ID carries the number alone
    from_is "$standard" "$name<sip:5551234@[0-9.]*>"
    grep -q "line call from 5551234" "$work/access-$standard.log" ||
        fail "$standard: the access log does not name the caller"
    echo "== $standard: a disconnect tone ends the call (at ${SECONDS}s)"
    hang_up "$standard"
    if [ "$standard" != dtmf ]; then
        echo "== $standard: a damaged identity: anonymous From, the call goes on (at ${SECONDS}s)"
        callee "$standard-bad"
        call '5551234 "Ada Lovelace" badsum'
        from_is "$standard-bad" '"Anonymous" <sip:anonymous@anonymous.invalid>'
        grep -q "Caller ID: none arrived before the answer" "$work/out" ||
            fail "$standard: the dropped identity was not reported"
        hang_up "$standard-bad"
    else
        echo "== dtmf: the caller gives up after 3 rings: no call, the gateway idle (at ${SECONDS}s)"
        [ "$(control "ring rings=3")" = "OK ringing" ] || fail "ring rings=3 was not taken"
        wait_for "$work/out" "Ringing stopped before an answer" 1 20
        [ "$(grep -c "Enter number to call" "$work/err")" = "$cycles" ] ||
            fail "the gateway answered a caller who gave up"
        status_is line idle "after the caller gave up"
        status_is hook on "after the caller gave up"
        callee dtmf-after
        call '5551234'
        from_is dtmf-after "<sip:5551234@[0-9.]*>"
        hang_up dtmf-after
    fi
done

echo "== silence_hangup = 3: a far party fallen silent is hung up on (at ${SECONDS}s)"
say=$work/word.wav start bell "silence_hangup = 3"
callee silence
call '5551234'
wait_for "$work/out" "The line's party has hung up (silence)" 1 12
wait "$callee" || fail "silence: the callee's scenario: $(tail -n 5 "$work/silence.err" 2>/dev/null)"
grep -q "^BYE sip:100@127.0.0.1:5062 SIP/2.0" "$work/silence.msg" || fail "silence: no BYE"
wait_for "$work/out" "Globals inited" "$cycles" 10
status_is hook on "after the silence"

kill -TERM "$gateway" 2>/dev/null
wait "$gateway" 2>/dev/null
gateway=
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    echo "--- stdout"; tail -n 80 "$work/out" || true
    echo "--- stderr"; tail -n 30 "$work/err" || true
    exit 1
fi
echo "line signals end-to-end: all passed"
