#!/usr/bin/env bash
# Ending from outside: SIGTERM and SIGINT in every state of a call (idle, ringing with the
# prompt playing, collecting digits, dialling, a SIP call up, a line call up). Each time the
# process ends within a second with status 0, the board's exit handler has run (line on-hook,
# control socket gone) and the capture is a complete WAV file.
. "$(realpath "${SIPLINE_SOURCE:-.}")/gateway/tests/e2e_lib.sh"
netns_enter "$0"
work=$(mktemp -d /tmp/sipline-robust-XXXXXX)
trap e2e_cleanup EXIT
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
netns_use_host gw 127.0.0.1 "$work/hosts"
limit_ms=1000
sanitized && limit_ms=3000

hook_is() {
    local got
    got=$(control status | tr ' ' '\n' | sed -n 's/^hook=//p')
    [ "$got" = "$1" ] || fail "$2: hook=$got before the signal, not $1"
}

# Brings the gateway into a state; the line's hook state it must have then is on stdout.
into_state() {
    case $1 in
        idle) ;;
        prompt)
            [ "$(control ring)" = "OK ringing" ] || fail "ring was not taken"
            wait_for "$work/out" "ST_RXOFFHK"
            for _ in $(seq 50); do
                control status | grep -q "prompts=enter.vox" && break
                sleep 0.1
            done
            ;;
        digits)
            into_state prompt
            wait_for "$work/err" "Enter number to call"
            control "digits 10" > /dev/null
            sleep 0.3
            ;;
        dialling)
            sipp_start call 999999999 -p 5071 -d 5000
            wait_for "$work/out" "Making Outbound call to"
            ;;
        sip_call)
            sipp_start call 5550300 -p 5071 -d 5000
            wait_for "$work/out" "Exiting ST_TXDIAL"
            sleep 0.5
            ;;
        line_call)
            into_state prompt
            control "digits 101#" > /dev/null
            wait_for "$work/out" "Line call connected"
            sleep 0.5
            ;;
    esac
}

for state in ${SIGNAL_STATES:-idle prompt digits dialling sip_call line_call}; do
    for signal in TERM INT; do
        echo "== SIG$signal while $state"
        rm -f "$work/heard.wav"
        gateway_start BOARDSIM_CAPTURE="$work/heard.wav"
        into_state "$state"
        case $state in idle) hook_is on "$state" ;; *) hook_is off "$state" ;; esac
        kill -0 "$gateway" 2>/dev/null || fail "sipline ended before the signal"
        started=$(date +%s%N)
        kill "-$signal" "$gateway"
        for _ in $(seq $((limit_ms / 20))); do
            kill -0 "$gateway" 2>/dev/null || break
            sleep 0.02
        done
        if kill -0 "$gateway" 2>/dev/null; then
            fail "sipline still runs ${limit_ms} ms after SIG$signal while $state"
            kill -KILL "$gateway"
        fi
        status=0
        wait "$gateway" || status=$?
        took=$((($(date +%s%N) - started) / 1000000))
        gateway=
        [ "$status" -eq 0 ] || fail "status $status after SIG$signal while $state"
        grep -qx "Cleaning up" "$work/out" || fail "no \"Cleaning up\" after SIG$signal while $state"
        [ ! -e "$work/boardsim.sock" ] || fail "the board's exit handler did not run ($state)"
        bytes=$(python3 "$source/gateway/tests/wav_check.py" "$work/heard.wav" 2>&1) ||
            fail "capture after SIG$signal while $state: $bytes"
        sanitizer_clean "$work/err"
        echo "ended in $took ms, capture of $bytes bytes"
        sipp_stop
    done
done
if [ "$failures" -ne 0 ]; then
    echo "--- stdout (end)"; tail -n 80 "$work/out"
    echo "--- stderr (end)"; tail -n 40 "$work/err"
    exit 1
fi
echo "gateway signals: all passed"
