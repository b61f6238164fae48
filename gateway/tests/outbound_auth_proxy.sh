#!/usr/bin/env bash
# A call from the line out through Kamailio that challenges with 407 (its auth module, a fixed
# password, gateway/tests/kamailio/auth_proxy.cfg), in private namespaces: the gateway answers the
# challenge once with its [outbound] credentials (qop=auth), the proxy takes them and relays the
# INVITE to a SIPp callee, and the call connects with audio both ways (the callee's tone at the
# line, the gateway's RTP at the callee) until the line hangs up.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-outbound-proxy-XXXXXX)
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -KILL "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
# tone_frequency comes from the softphones' helpers; nothing else of them is used here.
# shellcheck source=../../scripts/callers.sh
. "$source/scripts/callers.sh"

gw=10.78.0.1
proxy=10.78.0.2
callee=10.78.0.3
netns_caller_start "$gw" "$proxy"
in_caller ip addr add "$callee/24" dev sipcall0
netns_use_host gw "$gw" "$work/hosts"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
mkdir -p "$work/kamailio" "$work/callee"
sox -n -r 8000 -c 1 -b 16 "$work/say.wav" synth 30 sine 700 vol 0.25 2>/dev/null
sox -n -r 8000 -c 1 -e u-law "$work/callee/callee.wav" synth 20 sine 1200 vol 0.25 2>/dev/null

# caller_udp ADDRESS:PORT: up to 10 s for a UDP socket bound there in the callers' namespace.
caller_udp() {
    for _ in $(seq 100); do
        in_caller ss -Hlun 2>/dev/null | grep -qF "$1" && return 0
        sleep 0.1
    done
    fail "nothing listened on $1 in the callers' namespace"
    return 1
}

"${netns_caller[@]}" kamailio -DD -E -f "$source/gateway/tests/kamailio/auth_proxy.cfg" \
    -Y "$work/kamailio" -A "PROXY_LISTEN=udp:$proxy:5060" -A "PROXY_CALLEE=\"sip:$callee:5060\"" \
    >"$work/kamailio.log" 2>&1 &
caller_udp "$proxy:5060" || { tail -n 20 "$work/kamailio.log"; exit 1; }

# What the gateway sends to the callee's media port is kept; its RTCP port answers nothing.
"${netns_caller[@]}" socat -u "UDP-RECV:12000,bind=$callee" "OPEN:$work/callee/rtp.raw,creat" &
"${netns_caller[@]}" socat -u "UDP-RECV:12001,bind=$callee" /dev/null &
(cd "$work/callee" && exec "${netns_caller[@]}" timeout 60 sipp \
    -sf "$source/gateway/tests/sipp/callee/answer.xml" -s 100 -i "$callee" -p 5060 -mi "$callee" \
    -m 1 -nostdin -timeout 50 -timeout_error -trace_err -error_file "$work/answer.err" \
    -trace_logs -log_file "$work/answer.log" >"$work/answer.out" 2>&1) &
callee_sipp=$!
caller_udp "$callee:5060" || exit 1

cat >"$work/sipline.toml" <<TOML
[[directory]]
number = "100"
uri = "sip:100@$proxy"

[outbound]
user = "gw"
password = "proxy-secret"
TOML
: >"$work/out"
: >"$work/err"
(cd "$work" && BOARDSIM_SAY="$work/say.wav" BOARDSIM_CAPTURE="$work/heard.wav" \
    exec "$build/bin/sipline" --config "$work/sipline.toml" >"$work/out" 2>"$work/err") &
gateway=$!
wait_for "$work/out" "Creating OutTh" 1 20 || exit 1

echo "== the line calls 100 through the proxy: 407, the INVITE again with credentials, 200"
[ "$(control ring)" = "OK ringing" ] || fail "the ring was not taken"
wait_for "$work/err" "Enter number to call" 1 10
control "digits 100#" >/dev/null
wait_for "$work/out" "Answering the 407 challenge as gw" 1 15
wait_for "$work/out" "Line call connected" 1 20
connected=$(wav_samples "$work/heard.wav")
sleep 3
control hangup >/dev/null
wait "$callee_sipp" || fail "the callee's scenario: $(tail -n 5 "$work/answer.err" 2>/dev/null)"
wait_for "$work/out" "Globals inited" 1 15
status_is hook on "after the line hung up"

[ "$(grep -c "auth_proxy: challenge" "$work/kamailio.log")" -eq 1 ] ||
    fail "the proxy did not challenge exactly once: $(grep auth_proxy "$work/kamailio.log")"
[ "$(grep -c "auth_proxy: gw authenticated for sip:100@$proxy" "$work/kamailio.log")" -eq 1 ] ||
    fail "the proxy did not take the gateway's credentials: $(grep auth_proxy "$work/kamailio.log")"
[ "$(grep -c "Answering the 407 challenge" "$work/out")" -eq 1 ] ||
    fail "the gateway did not answer the challenge exactly once"

echo "== audio both ways"
hz=$(tone_frequency "$work/heard.wav" "$((connected + 4000))s" 2)
awk -v v="${hz:-0}" 'BEGIN { exit !(v >= 1140 && v <= 1260) }' ||
    fail "the line heard ${hz:-no sound} Hz, not the callee's 1200 Hz"
bytes=$(stat -c %s "$work/callee/rtp.raw" 2>/dev/null || echo 0)
# 3 s of the gateway's audio: 150 packets of at least 33 bytes of GSM.
[ "$bytes" -ge 4000 ] || fail "the callee received $bytes bytes of RTP"
echo "ok: the line heard ${hz:-?} Hz; the callee received $bytes bytes of RTP"

kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
if grep -aqE "runtime error:|Sanitizer" "$work/err"; then fail "sanitizer report in sipline's errors"; fi
if [ "$failures" -ne 0 ]; then
    echo "--- stdout (end)"; tail -n 60 "$work/out"
    echo "--- kamailio (end)"; tail -n 20 "$work/kamailio.log"
    exit 1
fi
echo "outbound_auth_proxy: all passed"
