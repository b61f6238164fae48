#!/usr/bin/env bash
# The real gateway (build/bin/sipline, simulated board) called from another machine: a callers'
# namespace joined to the gateway's by a veth pair. CLIENT is baresip, linphonec or sipp.
#   baresip, linphonec: a call in which the caller's tone reaches the line's capture and the far
#     party's tone reaches the softphone's recording, ended by the caller (the line goes
#     on-hook); a call ended by the line's party (the softphone answers the gateway's BYE 200);
#     and, during a SIPp call, a call from the softphone that fails with 503 while the first
#     call goes on. Both softphones pick PCMU from the gateway's "0 3"; a last baresip that
#     offers GSM alone sends GSM.
#   sipp: a call that streams RTP (mu-law) whose tone reaches the line's capture; a second SIPp
#     caller during it is refused 503 and the first call goes on.
# Frequencies are sox's rough frequency of a stretch of the recording.
set -uo pipefail
client=${1:?usage: gateway_softphones.sh baresip|linphonec|sipp}
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-gw-softphones-XXXXXX)
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
dumpcap_pid=
sipp_pid=
failures=0
cleanup() {
    callers_stop
    [ -n "$sipp_pid" ] && kill "$sipp_pid" 2>/dev/null && wait "$sipp_pid" 2>/dev/null
    [ -n "$dumpcap_pid" ] && kill "$dumpcap_pid" 2>/dev/null && wait "$dumpcap_pid" 2>/dev/null
    gateway_stop
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
cycles=0
# idle WHAT: the gateway has finished one more call cycle and its line is on-hook.
idle() {
    cycles=$((cycles + 1))
    for _ in $(seq 100); do
        [ "$(grep -c 'Globals inited' "$gateway_dir/out")" -ge "$cycles" ] && break
        sleep 0.1
    done
    [ "$(grep -c 'Globals inited' "$gateway_dir/out")" -ge "$cycles" ] || fail "$1: no new cycle"
    [ "$(line_status hook)" = on ] || fail "$1: the line is not on-hook"
}
# sipp_caller SCENARIO NUMBER [options]: SIPp from the callers' namespace, in $work.
sipp_caller() {
    local scenario=$1 number=$2
    shift 2
    (cd "$work" && exec "${netns_caller[@]}" timeout 60 sipp \
        -sf "$source_dir/gateway/tests/sipp/$scenario.xml" -s "$number" "$gateway_address:5060" -i "$caller_address" -mi "$caller_address" -m 1 -l 1 \
        -nostdin -timeout 40 -timeout_error -trace_err -error_file "$work/$scenario.err" "$@" \
        >"$work/$scenario.out" 2>&1)
}
# sipp_first_call SECONDS: a SIPp call (the line's number 5550100) held SECONDS in the background.
sipp_first_call() {
    sipp_caller rtp_call 5550100 -p 5090 -mp 16000 -d "$(($1 * 1000))" &
    sipp_pid=$!
    line_wait line connected 10 || fail "the SIPp call did not connect the line"
}
sipp_first_call_ends() {
    wait "$sipp_pid" ||
        fail "the SIPp call did not end well: $(tail -n 5 "$work/rtp_call.err" 2>/dev/null)"
    sipp_pid=
    idle "after the SIPp call"
}

netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
capture=$work/gateway/heard.wav
sox -n -r 8000 -c 1 -b 16 "$work/far.wav" synth 60 sine 1400 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic440.wav" synth 60 sine 440 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic600.wav" synth 60 sine 600 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic500.wav" synth 60 sine 500 vol 0.5
sox -n -r 8000 -c 1 -e u-law "$work/stream.wav" synth 60 sine 800 vol 0.5
dumpcap -q -i sipgw0 -f 'udp and not portrange 10000-10001' -w "$work/sip.pcapng" >/dev/null 2>&1 &
dumpcap_pid=$!
gateway_start "$work/gateway" BOARDSIM_SAY="$work/far.wav" BOARDSIM_CAPTURE="$capture" ||
    exit 1
sleep 0.5

case $client in
baresip)
    baresip_start bare "$work/mic440.wav" 5062
    start=$(wav_samples "$capture")
    baresip_do bare dial "sip:5551234@$gateway_address"
    baresip_wait bare CALL_ESTABLISHED 15 || fail "baresip: call not established"
    line_wait line connected || fail "baresip: the line is not connected"
    [ "$(line_status dialled)" = 5551234 ] ||
        fail "baresip: the line dialled $(line_status dialled)"
    sleep 3
    check_tone "baresip's tone at the line" "$capture" "$start" 440
    baresip_do bare hangup
    baresip_wait bare CALL_CLOSED || fail "baresip: call not closed after its hang-up"
    line_wait hook on || fail "baresip: the line stayed off-hook after the caller's BYE"
    idle "after baresip's hang-up"
    check_tone "the far party's tone at baresip" "$(baresip_heard bare)" 0 1400

    : >"$work/bare/events"
    baresip_do bare dial "sip:5550002@$gateway_address"
    baresip_wait bare CALL_ESTABLISHED 15 || fail "baresip: second call not established"
    sleep 1
    line_do hangup >/dev/null
    baresip_wait bare CALL_CLOSED || fail "baresip: the gateway's BYE did not close the call"
    idle "after the line's hang-up"
    echo "ok: baresip, the line's party hangs up"

    : >"$work/bare/events"
    sipp_first_call 5
    baresip_do bare dial "sip:5550003@$gateway_address"
    baresip_wait bare CALL_CLOSED || fail "baresip: the call during a call was not refused"
    grep -q '503' "$work/bare/events" ||
        fail "baresip: not a 503: $(tail -c 300 "$work/bare/events")"
    [ "$(line_status line)" = connected ] || fail "baresip: the first call did not go on"
    sipp_first_call_ends
    echo "ok: baresip refused 503 during a call"

    # Offering GSM alone, the caller's audio reaches the line through the GSM decoder.
    baresip_start gsm "$work/mic500.wav" 5066 GSM
    start=$(wav_samples "$capture")
    baresip_do gsm dial "sip:5550005@$gateway_address"
    baresip_wait gsm CALL_ESTABLISHED 15 || fail "baresip (GSM only): call not established"
    sleep 2.5
    check_tone "baresip's GSM tone at the line" "$capture" "$start" 500
    grep -q "Set audio encoder: GSM" "$work/gsm/console.out" || fail "baresip did not send GSM"
    baresip_do gsm hangup
    baresip_wait gsm CALL_CLOSED || fail "baresip (GSM only): call not closed"
    idle "after baresip's GSM call"
    ;;
linphonec)
    linphonec_start linph "$work/mic600.wav" 5064
    start=$(wav_samples "$capture")
    linphonec_do linph "call sip:5551234@linegw"
    linphonec_wait linph "connected." 15 || fail "linphonec: call not connected"
    line_wait line connected || fail "linphonec: the line is not connected"
    sleep 3
    check_tone "linphonec's tone at the line" "$capture" "$start" 600
    linphonec_do linph terminate
    linphonec_wait linph "ended" || fail "linphonec: call did not end"
    line_wait hook on || fail "linphonec: the line stayed off-hook after the caller's BYE"
    idle "after linphonec's hang-up"
    sleep 0.5
    check_tone "the far party's tone at linphonec" "$work/linph/heard.wav" 0 1400

    : >"$work/linph/console.out"
    linphonec_do linph "call sip:5550002@linegw"
    linphonec_wait linph "connected." 15 || fail "linphonec: second call not connected"
    sleep 1
    line_do hangup >/dev/null
    linphonec_wait linph "ended" || fail "linphonec: the gateway's BYE did not end the call"
    idle "after the line's hang-up"
    echo "ok: linphonec, the line's party hangs up"

    : >"$work/linph/console.out"
    sipp_first_call 5
    linphonec_do linph "call sip:5550003@linegw"
    linphonec_wait linph "error." ||
        fail "linphonec: no failed call shown: $(tail -n 5 "$work/linph/console.out")"
    [ "$(line_status line)" = connected ] || fail "linphonec: the first call did not go on"
    sipp_first_call_ends
    echo "ok: linphonec refused 503 during a call"
    ;;
sipp)
    start=$(wav_samples "$capture")
    sipp_first_call 5
    [ "$(line_status dialled)" = 5550100 ] || fail "sipp: the line dialled $(line_status dialled)"
    sleep 2
    check_tone "SIPp's RTP stream at the line" "$capture" "$start" 800
    sipp_caller rtp_busy 5550004 -p 5092 -mp 16010 ||
        fail "sipp: the second caller was not refused 503"
    [ "$(line_status line)" = connected ] || fail "sipp: the first call did not go on"
    sipp_first_call_ends
    echo "ok: SIPp streamed RTP; a second SIPp caller was refused 503"
    ;;
*)
    echo "unknown client $client" >&2
    exit 2
    ;;
esac

callers_stop
kill "$dumpcap_pid"
wait "$dumpcap_pid" 2>/dev/null
dumpcap_pid=
gateway_stop || fail "sipline did not end cleanly on SIGTERM"

# On the wire: every BYE the gateway sent was answered 200 by the caller; every 503 had a To tag.
tshark -r "$work/sip.pcapng" -Y sip -T fields -E separator='|' -e ip.src -e sip.Method \
    -e sip.Status-Code -e sip.CSeq.method -e sip.to.tag >"$work/wire.txt" 2>/dev/null
if awk -F'|' -v gw="$gateway_address" -v client="$client" '
    $1 == gw && $2 == "BYE" { byes++ }
    $1 != gw && $3 == 200 && $4 == "BYE" { bye_answers++ }
    $1 == gw && $3 == 503 { refused++; if ($5 == "") bad = bad " untagged-503" }
    END {
        if (client != "sipp" && byes != 1) bad = bad " gateway-BYEs=" byes
        if (bye_answers < byes) bad = bad " BYE-answers=" bye_answers
        if (refused != 1) bad = bad " 503s=" refused
        if (bad != "") { print "on the wire:" bad; exit 1 }
    }' "$work/wire.txt"; then
    echo "ok: the wire ($(wc -l <"$work/wire.txt") SIP messages)"
else
    fail "the wire"
fi
grep -q "did not end" "$gateway_dir/err" && fail "an audio thread was left running"
grep -qE "runtime error|Sanitizer" "$gateway_dir/err" &&
    fail "sanitizer: $(grep -m 3 -E "runtime error|Sanitizer" "$gateway_dir/err")"

if [ "$failures" -ne 0 ]; then
    echo "--- sipline stdout (tail)"
    tail -n 60 "$gateway_dir/out"
    echo "--- sipline stderr (tail)"
    tail -n 30 "$gateway_dir/err"
    exit 1
fi
echo "gateway and $client: all passed"
