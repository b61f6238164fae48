#!/usr/bin/env bash
# Real softphones against a gateway that challenges every INVITE (authenticate = true), from a
# callers' namespace joined to the gateway's by a veth pair. CLIENT is baresip or linphonec.
#   With the account's user and password the softphone answers the 401, its call reaches the
#   line (dialled= the number), its tone is heard at the line's capture and the far party's
#   tone in its recording, and nothing is logged as refused.
#   The same softphone with a wrong password is refused: the gateway logs the wrong
#   credentials for that user and the line stays on-hook, never dialling the number.
# baresip 1.0.0 (libre 1.1.0) gives up on a 401 that offers SHA-256 at all, so its gateway
# offers MD5 alone (digest_algorithms), as its owner would set it.
set -uo pipefail
client=${1:?usage: gateway_auth_softphones.sh baresip|linphonec}
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
source "$source_dir/scripts/netns.sh"
netns_enter "$0" "$@"

work=$(mktemp -d /tmp/sipline-auth-softphones-XXXXXX)
gateway_address=10.77.0.1
caller_address=10.77.0.2
source "$source_dir/scripts/callers.sh"
failures=0
cleanup() {
    callers_stop
    gateway_stop
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# idle WHAT: the gateway has finished its first call cycle and its line is on-hook.
idle() {
    for _ in $(seq 150); do
        grep -q 'Globals inited' "$gateway_dir/out" && break
        sleep 0.1
    done
    grep -q 'Globals inited' "$gateway_dir/out" || fail "$1: no new cycle"
    [ "$(line_status hook)" = on ] || fail "$1: the line is not on-hook"
}
# owner_clean WHAT: the right password's call left no refusal behind.
owner_clean() {
    grep -q "security refused" "$gateway_dir/err" &&
        fail "$1: refused: $(grep -m 1 "security refused" "$gateway_dir/err")"
}
# refused WHAT: the gateway logged the wrong password of alice from the callers' address, and a
# moment later the line is still on-hook and has not dialled 5559999.
refused() {
    local line="security refused source=$caller_address reason=\"wrong credentials\" user=\"alice\""
    for _ in $(seq 150); do
        grep -qF "$line" "$gateway_dir/err" && break
        sleep 0.1
    done
    grep -qF "$line" "$gateway_dir/err" || fail "$1: no refusal logged for alice's wrong password"
    sleep 2
    [ "$(line_status hook)" = on ] || fail "$1: the line went off-hook"
    [ "$(line_status dialled)" != 5559999 ] || fail "$1: the line dialled the number"
}

netns_caller_start "$gateway_address" "$caller_address"
netns_use_host linegw "$gateway_address" "$work/hosts"
capture=$work/gateway/heard.wav
sox -n -r 8000 -c 1 -b 16 "$work/far.wav" synth 60 sine 1400 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic440.wav" synth 60 sine 440 vol 0.5
sox -n -r 8000 -c 1 -b 16 "$work/mic600.wav" synth 60 sine 600 vol 0.5
# ban_after is kept out of reach: both softphones call from one address, and the wrong password
# must be refused as such, not dropped as a banned source.
algorithms='["MD5", "SHA-256"]'
[ "$client" = baresip ] && algorithms='["MD5"]'
cat >"$work/sipline.toml" <<TOML
[security]
authenticate = true
ban_after = 20
digest_algorithms = $algorithms

[[security.users]]
name = "alice"
password = "wonderland"
TOML
gateway_config=$work/sipline.toml
gateway_start "$work/gateway" BOARDSIM_SAY="$work/far.wav" BOARDSIM_CAPTURE="$capture" || exit 1

case $client in
baresip)
    baresip_start owner "$work/mic440.wav" 5062 GSM,PCMU alice wonderland
    start=$(wav_samples "$capture")
    baresip_do owner dial "sip:5551234@$gateway_address"
    if ! baresip_wait owner CALL_ESTABLISHED 20; then
        # libre 1.1.0 ends the call with ENOSYS when any challenge of a 401 names an algorithm
        # other than MD5, instead of answering the one it knows (RFC 8760 section 2.4).
        grep -q '"CALL_CLOSED".*Function not implemented' "$work/owner/events" &&
            fail "baresip gave up on the 401's SHA-256 challenge without answering its MD5 one"
        fail "baresip: call not established"
    fi
    line_wait line connected || fail "baresip: the line is not connected"
    [ "$(line_status dialled)" = 5551234 ] || fail "baresip: the line dialled $(line_status dialled)"
    sleep 3
    check_tone "baresip's tone at the line" "$capture" "$start" 440
    baresip_do owner hangup
    baresip_wait owner CALL_CLOSED || fail "baresip: call not closed after its hang-up"
    idle "after baresip's call"
    owner_clean "baresip with the right password"
    check_tone "the far party's tone at baresip" "$(baresip_heard owner)" 0 1400

    baresip_start intruder "$work/mic600.wav" 5066 GSM,PCMU alice looking-glass
    baresip_do intruder dial "sip:5559999@$gateway_address"
    baresip_wait intruder CALL_CLOSED 20 || fail "baresip: the wrong password's call did not end"
    refused "baresip with a wrong password"
    ;;
linphonec)
    linphonec_start owner "$work/mic600.wav" 5064 alice wonderland
    start=$(wav_samples "$capture")
    linphonec_do owner "call sip:5551234@linegw"
    linphonec_wait owner "connected." 20 || fail "linphonec: call not connected"
    line_wait line connected || fail "linphonec: the line is not connected"
    [ "$(line_status dialled)" = 5551234 ] || fail "linphonec: the line dialled $(line_status dialled)"
    sleep 3
    check_tone "linphonec's tone at the line" "$capture" "$start" 600
    linphonec_do owner terminate
    linphonec_wait owner "ended" || fail "linphonec: call did not end"
    idle "after linphonec's call"
    owner_clean "linphonec with the right password"
    sleep 0.5
    check_tone "the far party's tone at linphonec" "$work/owner/heard.wav" 0 1400

    linphonec_start intruder "$work/mic440.wav" 5068 alice looking-glass
    linphonec_do intruder "call sip:5559999@linegw"
    refused "linphonec with a wrong password"
    linphonec_do intruder terminate
    ;;
*)
    echo "unknown client $client" >&2
    exit 2
    ;;
esac

[ "$(grep -c "security refused" "$gateway_dir/err")" -le 3 ] ||
    fail "more refusals than the wrong password's tries: $(grep "security refused" "$gateway_dir/err")"
grep -q "security banned" "$gateway_dir/err" && fail "the callers' address was banned"
callers_stop
gateway_stop || fail "sipline did not end cleanly on SIGTERM"
grep -qE "runtime error|Sanitizer" "$gateway_dir/err" &&
    fail "sanitizer: $(grep -m 3 -E "runtime error|Sanitizer" "$gateway_dir/err")"

if [ "$failures" -ne 0 ]; then
    echo "--- sipline stdout (tail)"
    tail -n 40 "$gateway_dir/out"
    echo "--- sipline stderr (tail)"
    tail -n 20 "$gateway_dir/err"
    exit 1
fi
echo "gateway with authentication and $client: all passed"
