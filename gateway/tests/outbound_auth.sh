#!/usr/bin/env bash
# Calls from the line to a callee that challenges the gateway's INVITE (SIPp on 127.0.0.1:5062),
# in private namespaces: after a 401 the INVITE is sent again once with the [outbound]
# credentials, which SIPp verifies, and the call connects; a proxy that challenges with 407 twice
# ends the attempt with the busy tone.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-outbound-XXXXXX)
scenarios=$source/gateway/tests/sipp/callee
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -KILL "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
netns_use_host gw 127.0.0.1 "$work/hosts"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
cd "$work" || exit 1
# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"

cat > "$work/sipline.toml" <<'TOML'
[[directory]]
number = "100"
uri = "sip:100@127.0.0.1:5062"

[outbound]
user = "gw"
password = "secret"
TOML
: > "$work/out"
: > "$work/err"
"$build/bin/sipline" --config "$work/sipline.toml" > "$work/out" 2> "$work/err" &
gateway=$!
wait_for "$work/out" "Creating OutTh"

proxy() {
    timeout 40 sipp -sf "$scenarios/$1.xml" -s 100 -i 127.0.0.1 -p 5062 -m 1 -nostdin \
        -timeout 30 -timeout_error -trace_err -error_file "$work/$1.err" -trace_logs \
        -log_file "$work/$1.log" > "$work/$1.out" 2>&1 &
    callee=$!
    wait_udp 5062
}
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

echo "== a 401 is answered once with the credentials and the call connects"
proxy challenge
dial "100#"
wait_for "$work/out" "Answering the 401 challenge as gw"
wait_for "$work/out" "Line call connected" 1 15
control hangup > /dev/null
wait "$callee" || fail "the proxy's scenario: $(tail -n 5 "$work/challenge.err" 2>/dev/null)"
grep -q "auth true cseq" "$work/challenge.log" ||
    fail "the proxy did not take the credentials: $(cat "$work/challenge.log" 2>/dev/null)"
wait_for "$work/out" "Globals inited" "$cycles" 15

echo "== a second challenge ends the attempt with the busy tone"
proxy challenge_twice
dial "100#"
wait_for "$work/out" "Callee answered 407: busy tone" 1 15
wait "$callee" || fail "the twice-challenging proxy: $(tail -n 5 "$work/challenge_twice.err" 2>/dev/null)"
[ "$(grep -c "Answering the 407 challenge" "$work/out")" -eq 1 ] ||
    fail "the gateway answered a second challenge"
control hangup > /dev/null
wait_for "$work/out" "Globals inited" "$cycles" 15

kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
if grep -aqE "runtime error:|Sanitizer" "$work/err"; then fail "sanitizer report in sipline's errors"; fi
if [ "$failures" -ne 0 ]; then
    echo "--- stdout (end)"; tail -n 80 "$work/out"
    exit 1
fi
echo "outbound_auth: all passed"
