#!/usr/bin/env bash
# make demo: sipline with the simulated line in private network namespaces, called by baresip
# from a second namespace (another machine on the same link). The caller says a spoken sentence,
# the line's far party answers with another; the SIP ladder and the line's state changes are
# printed as they happen, then the RTP and RTCP figures of both directions. What each side heard
# is left as WAV files with a spectrogram in OUT (default BUILD/demo). The caller offers PCMA
# (as European phones do) with telephone-event: it presses keys that the line's party hears, and
# the line's party presses keys that the caller sees as RFC 4733 events. Then a call from the line
# (ring, digits, prompt), the line echo canceller at work on a line with echo (the caller's
# recording with and without it, side by side in echo_spectrogram.png), and
# scripts/demo_line_to_sip.sh BUILD OUT when it exists.
set -uo pipefail
build=$(realpath "${1:-build}")
source_dir=$(realpath "$(dirname "$0")/..")
out=${2:-$build/demo}

if [ -z "${SIPLINE_NETNS_INSIDE:-}" ]; then
    rm -rf "$out"
    mkdir -p "$out" || exit 1
    out=$(realpath "$out")
    started=$(date +%s)
    # The namespaces end with the inner script; netns_enter there finds itself inside already.
    status=0
    unshare --net --uts --mount env SIPLINE_NETNS_INSIDE=1 bash "$0" "$build" "$out" || status=$?
    line_to_sip=$source_dir/scripts/demo_line_to_sip.sh
    if [ -f "$line_to_sip" ] && [ -z "${SIPLINE_DEMO_NO_LINE_TO_SIP:-}" ]; then
        echo
        echo "== a call from the line to a SIP callee (scripts/demo_line_to_sip.sh)"
        bash "$line_to_sip" "$build" "$out" || status=$?
    fi
    echo
    echo "== left in $out ($(($(date +%s) - started)) s in all)"
    (cd "$out" && ls -l --time-style=+ | tail -n +2 | awk '{ printf "  %8d  %s\n", $5, $NF }')
    exit "$status"
fi

source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-demo-XXXXXX)
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
background=()
cleanup() {
    callers_stop
    local pid
    for pid in "${background[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${background[@]}"; do
        wait "$pid" 2>/dev/null
    done
    gateway_stop || true
    netns_cleanup
    rm -rf "$work"
}
trap cleanup EXIT

netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"

# What the two parties say: espeak-ng at 8 kHz mono; the caller's sentence is followed by
# silence so that the file outlasts the call.
speak() {
    espeak-ng -s 150 -w "$work/speech.wav" "$2"
    sox "$work/speech.wav" -r 8000 -c 1 -b 16 "$1" pad 0.3 "$3"
}
speak "$work/caller_says.wav" "Hello, this is the caller on the SIP network. Can you hear me?" 6
speak "$work/far_party_says.wav" "This is the telephone line answering. I hear you well." 0.7
cp "$work/caller_says.wav" "$out/caller_said.wav"
cp "$work/far_party_says.wav" "$out/far_party_said.wav"

# The wire between the two machines, and the SIP part of it printed as a ladder as it passes.
dumpcap -q -i sipgw0 -f udp -w "$work/call.pcapng" >/dev/null 2>&1 &
background+=($!)
# A bash loop, not awk: mawk reads its input in blocks, which would hold the lines back.
ladder() {
    local time from to request status
    while IFS="|" read -r time from to request status; do
        if [ "$from" = "$gateway_address" ]; then
            printf 'sip  | %6.3f   baresip  <-- %-44s --  sipline\n' "$time" "${request:-$status}"
        else
            printf 'sip  | %6.3f   baresip  --- %-44s --> sipline\n' "$time" "${request:-$status}"
        fi
    done
}
tshark -l -n -i sipgw0 -f udp -Y sip -T fields -E separator='|' -e frame.time_relative \
    -e ip.src -e ip.dst -e sip.Request-Line -e sip.Status-Line 2>"$work/tshark.err" > >(ladder) &
background+=($!)
for _ in $(seq 50); do
    grep -q "Capturing on" "$work/tshark.err" 2>/dev/null && break
    sleep 0.1
done

echo "== sipline starts in its namespace as linegw ($gateway_address), the far party ready to talk"
gateway_start "$work/gateway" BOARDSIM_SAY="$work/far_party_says.wav" \
    BOARDSIM_CAPTURE="$work/gateway/heard.wav" || exit 1
grep -E '^(IP |UDP listen)' "$gateway_dir/out" | sed 's/^/sipline | /'

# The line's state, printed whenever it changes.
(
    last=
    while sleep 0.1; do
        now=$(line_do status 2>/dev/null | tr ' ' '\n' |
            grep -E '^(hook|line|dialled|prompts)=' | tr '\n' ' ') || continue
        [ -n "$now" ] && [ "$now" != "$last" ] && echo "line | $now" && last=$now
    done
) &
background+=($!)

echo
echo "== baresip on $caller_address (PCMA and telephone-event) calls sip:5551234@$gateway_address"
baresip_start caller "$work/caller_says.wav" 5062 PCMA
baresip_do caller dial "sip:5551234@$gateway_address"
if ! baresip_wait caller CALL_ESTABLISHED 15; then
    echo "demo: the call was not established" >&2
    tail -n 20 "$gateway_dir/out" >&2
    exit 1
fi
grep -E '^Offer answered' "$gateway_dir/out" | sed 's/^/sipline | /'
sleep 1
echo "demo | connected: both parties talk for 7 s"
sleep 3
echo "demo | baresip presses 1 2 3 (sndcode 123): RFC 4733 events to the gateway"
baresip_do caller sndcode 123
for _ in $(seq 30); do
    [ "$(line_status heard_digits)" = 123 ] && break
    sleep 0.1
done
echo "line | the line's party heard the keys: heard_digits=$(line_status heard_digits)"
echo "demo | the line's party presses 4 and # (echo 'press 4#' | socat ...)"
line_do 'press 4#' >/dev/null
for _ in $(seq 30); do
    [ "$(grep -o '"type":"CALL_DTMF_END"' "$work/caller/events" | wc -l)" -ge 2 ] && break
    sleep 0.1
done
echo "demo | baresip saw the keys: $(grep -o '"type":"CALL_DTMF_START"[^}]*"param":"[^"]*"' \
    "$work/caller/events" | sed 's/.*"param":"\(.\)".*/\1/' | tr -d '\n')"
sleep 1
echo "demo | baresip hangs up"
baresip_do caller hangup
baresip_wait caller CALL_CLOSED || echo "demo: baresip did not close the call" >&2
line_wait hook on || echo "demo: the line stayed off-hook" >&2
sleep 1
for _ in $(seq 50); do
    grep -q "Globals inited" "$gateway_dir/out" && break
    sleep 0.1
done
sleep 0.5
callers_stop
kill "${background[0]}"
wait "${background[0]}" 2>/dev/null || true

echo
echo "== RTP of both directions (tshark -z rtp,streams on the call's capture)"
tshark -n -r "$work/call.pcapng" -q -o rtp.heuristic_rtp:TRUE -z rtp,streams 2>/dev/null |
    grep -vE '^=+$' | sed 's/^/rtp  | /'
echo
echo "== RTCP each side sent (its last report block: fraction lost, cumulative lost, jitter)"
tshark -n -r "$work/call.pcapng" -o rtcp.heuristic_rtcp:TRUE -Y rtcp -T fields -E separator='|' \
    -e ip.src -e ip.dst -e rtcp.pt -e rtcp.ssrc.fraction -e rtcp.ssrc.cum_nr \
    -e rtcp.ssrc.jitter 2>/dev/null | awk -F'|' '
    {
        key = $1 " -> " $2
        if (!(key in n)) order[++keys] = key
        n[key]++
        types[key] = types[key] " " $3
        if ($4 != "") last[key] = sprintf("lost %d/256, %d in all, jitter %.2f ms", $4, $5, $6 / 8)
    }
    END {
        if (keys == 0) print "rtcp | none seen"
        for (i = 1; i <= keys; i++) {
            k = order[i]
            sr = gsub(/200/, "", types[k]); rr = gsub(/201/, "", types[k])
            bye = gsub(/203/, "", types[k])
            printf "rtcp | %-24s %d compounds (SR %d, RR %d, BYE %d); %s\n", k, n[k], sr, rr, bye,
                (k in last) ? last[k] : "no report block"
        }
    }'

heard=$(baresip_heard caller)
sox "$work/gateway/heard.wav" -b 16 -e signed-integer "$out/far_party_heard.wav"
sox "$heard" -c 1 -r 8000 -b 16 "$out/caller_heard.wav"
sox -M "$out/far_party_heard.wav" "$out/caller_heard.wav" -n spectrogram -x 1200 -y 257 \
    -t "far party heard (top), caller heard (bottom)" -o "$out/spectrogram.png"
tshark -n -r "$work/call.pcapng" -Y sip -T fields -E separator='|' -e frame.time_relative \
    -e ip.src -e ip.dst -e sip.Request-Line -e sip.Status-Line 2>/dev/null | ladder |
    sed 's/^sip  | //' >"$out/ladder.txt"
cp "$work/call.pcapng" "$out/call.pcapng"
echo
echo "== the keys on the wire (tshark: RFC 4733 events, each with one timestamp)"
tshark -n -r "$work/call.pcapng" -o rtp.heuristic_rtp:TRUE -Y rtpevent -T fields -E separator='|' \
    -e ip.src -e rtp.timestamp -e rtpevent.event_id -e rtpevent.end_of_event \
    -e rtpevent.duration 2>/dev/null | awk -F'|' '
    {
        key = $1 " " $2
        if (!(key in n)) { order[++keys] = key; from[key] = $1; event[key] = $3 }
        n[key]++
        if ($4 == "1" || $4 == "True") ends[key]++
        if ($5 > longest[key]) longest[key] = $5
    }
    END {
        split("0 1 2 3 4 5 6 7 8 9 * # A B C D", name, " ")
        for (i = 1; i <= keys; i++) {
            k = order[i]
            printf "dtmf | %-10s key %s: %d packets, %d end packets, %d ms\n", from[k],
                name[event[k] + 1], n[k], ends[k], longest[k] / 8
        }
    }'
echo
printf 'demo | the far party heard %.1f s (far_party_heard.wav), %s %.1f s (caller_heard.wav)\n' \
    "$(soxi -D "$out/far_party_heard.wav")" "the caller heard" "$(soxi -D "$out/caller_heard.wav")"

echo
echo "== the line rings; its caller dials 101# after the prompt and gets that entry's media"
echo "demo | \$ echo ring | socat - UNIX-CONNECT:boardsim.sock"
line_do ring >/dev/null
line_wait prompts enter.vox 10 || echo "demo: no prompt was played" >&2
echo "demo | \$ echo 'digits 101#' | socat - UNIX-CONNECT:boardsim.sock"
line_do "digits 101#" >/dev/null
for _ in $(seq 50); do
    grep -q "Line call connected" "$gateway_dir/out" && break
    sleep 0.1
done
cat "$gateway_dir/err" "$gateway_dir/out" |
    grep -E '^(Enter number|Setting event: setup_connection|Line call connected)' |
    sed 's/^/sipline | /'
sleep 0.5
echo "demo | \$ echo hangup | socat - UNIX-CONNECT:boardsim.sock"
line_do hangup >/dev/null
for _ in $(seq 50); do
    [ "$(grep -c 'Globals inited' "$gateway_dir/out")" -ge 2 ] && break
    sleep 0.1
done
sleep 0.3

echo
echo "== SIGTERM ends sipline"
status=0
gateway_stop || status=$?
echo "demo | sipline ended (status $status)"

# The line echo canceller: the same caller on a line whose hybrid returns what the gateway
# plays 16 ms late and 10 dB down (BOARDSIM_ECHO), the line's party silent, once with
# [line] echo_cancel = false and once as the gateway starts by default.
echo
echo "== the line echo canceller: a hybrid returns the caller's voice 16 ms late, 10 dB down"
# dbm0 FILE: the level of FILE from 1.5 s to 4.5 s into it (a full-scale sine is +3.14 dBm0).
dbm0() {
    sox "$1" -n trim 1.5 3 stat 2>&1 |
        awk '/RMS +amplitude/ { if ($3 > 0) printf "%.0f", 20 * log($3) / log(10) + 6.15; else print "-inf" }'
}
sox -n -r 8000 -c 1 -b 16 "$work/silence.wav" trim 0 1
for canceller in false true; do
    printf '[line]\necho_cancel = %s\n' "$canceller" >"$work/echo_$canceller.toml"
    gateway_config=$work/echo_$canceller.toml
    gateway_start "$work/echo_$canceller" BOARDSIM_ECHO=16ms,10dB BOARDSIM_SAY="$work/silence.wav" ||
        exit 1
    baresip_start "echo_$canceller" "$work/caller_says.wav" 5062 PCMA
    baresip_do "echo_$canceller" dial "sip:5551234@$gateway_address"
    baresip_wait "echo_$canceller" CALL_ESTABLISHED 15 || echo "demo: the echo call was not established" >&2
    sleep 5
    baresip_do "echo_$canceller" hangup
    baresip_wait "echo_$canceller" CALL_CLOSED || echo "demo: baresip did not close the echo call" >&2
    callers_stop
    gateway_stop || echo "demo: sipline did not end cleanly after the echo call" >&2
    heard=$(baresip_heard "echo_$canceller")
    name=caller_heard_echo_canceller_$([ "$canceller" = true ] && echo on || echo off)
    [ -n "$heard" ] && sox "$heard" -c 1 -r 8000 -b 16 "$out/$name.wav"
    echo "demo | echo_cancel = $canceller: the caller hears its own voice back at $(dbm0 "$out/$name.wav") dBm0 ($name.wav)"
done
gateway_config=
sox -M "$out/caller_heard_echo_canceller_off.wav" "$out/caller_heard_echo_canceller_on.wav" -n \
    spectrogram -x 1200 -y 257 -t "the caller hears its echo: canceller off (top), on (bottom)" \
    -o "$out/echo_spectrogram.png"
echo "demo | side by side: $out/echo_spectrogram.png"
