#!/usr/bin/env bash
# The gateway registered to Kamailio as its PBX (deploy/kamailio/registrar.cfg: auth, registrar
# and usrloc in memory, a fixed password), in private namespaces:
# - it registers with digest and, with expires = 20, refreshes before the binding lapses
#   (kamcmd ul.dump shows the binding every second for 30 s);
# - a SIPp caller calls a number at the registrar, which routes it to the line: the gateway takes
#   it although To names the registrar, and dials the number of the Request-URI;
# - the line dials 100, which goes to [outbound] uri at the registrar; the registrar challenges
#   with 407, the gateway answers with the registration's credentials, the call completes;
# - Kamailio is restarted with min_expires = 30: the gateway's next REGISTER meets 423, asks the
#   Min-Expires and is bound again;
# - SIGTERM: the REGISTER with expires=0 reaches Kamailio and the binding is gone.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-registration-XXXXXX)
gateway=
kamailio=
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

gw=10.79.0.1
pbx=10.79.0.2
callee=10.79.0.3
netns_caller_start "$gw" "$pbx"
in_caller ip addr add "$callee/24" dev sipcall0
netns_use_host gw "$gw" "$work/hosts"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
mkdir -p "$work/kamailio"
ctl="unix:$work/kamailio/ctl.sock"

# kamailio_start MIN_EXPIRES: the registrar, until it listens.
kamailio_start() {
    "${netns_caller[@]}" kamailio -DD -E -f "$source/deploy/kamailio/registrar.cfg" \
        -Y "$work/kamailio" -A "REG_LISTEN=udp:$pbx:5060" -A "REG_MIN_EXPIRES=$1" \
        -A "REG_CTL=\"$ctl\"" -A "REG_CALLEE=\"sip:$callee:5060\"" >>"$work/kamailio.log" 2>&1 &
    kamailio=$!
    for _ in $(seq 100); do
        in_caller ss -Hlun 2>/dev/null | grep -qF "$pbx:5060" && return 0
        sleep 0.1
    done
    fail "Kamailio did not listen on $pbx:5060"
    tail -n 20 "$work/kamailio.log"
    exit 1
}

# bound: 0 when Kamailio holds the gateway's Contact for the line's AOR.
bound() {
    kamcmd -s "$ctl" ul.dump 2>/dev/null | grep -qF "sip:line@$gw:5060"
}

wait_bound() {
    for _ in $(seq $(($1 * 10))); do
        bound && return 0
        sleep 0.1
    done
    fail "$2"
    return 1
}

kamailio_start 10

cat >"$work/sipline.toml" <<TOML
[registration]
registrar = "sip:$pbx"
user = "line"
password = "line-secret"
expires = 20
keepalive = 5

[outbound]
uri = "sip:{number}@$pbx"

[service]
socket = "$work/status.sock"
TOML
: >"$work/out"
: >"$work/err"
(cd "$work" && exec "$build/bin/sipline" --config "$work/sipline.toml" >"$work/out" 2>"$work/err") &
gateway=$!

echo "== registers with digest; refreshed before the 20 s lapse, bound throughout 30 s"
wait_for "$work/out" "Registration: registered as sip:line@$pbx" 1 10 || exit 1
wait_bound 3 "Kamailio shows no binding after the 200"
gaps=0
for _ in $(seq 30); do
    bound || gaps=$((gaps + 1))
    sleep 1
done
[ "$gaps" -eq 0 ] || fail "the binding was missing in $gaps of 30 looks"
refreshes=$(grep -c "Registration: registered as" "$work/out")
[ "$refreshes" -ge 2 ] || fail "$refreshes registrations in 30 s with expires = 20"
[ "$(grep -c "registrar: challenge" "$work/kamailio.log")" -ge 1 ] ||
    fail "Kamailio never challenged the REGISTER"
grep -q "granted 20 s, refresh in 18 s" "$work/out" || fail "no grant of 20 s, refresh at 18 s"
echo "ok: $refreshes registrations, no gap"
shown=$("$build/bin/sipline" status --socket "$work/status.sock" | grep '^registration:')
case $shown in
*"registered (sip:line@$pbx until "*) echo "ok: sipline status: $shown" ;;
*) fail "sipline status shows \"$shown\", not the registration" ;;
esac

echo "== a caller of 5551234 at the registrar reaches the line; the number from the Request-URI"
"${netns_caller[@]}" timeout 40 sipp "$pbx:5060" -sf "$source/gateway/tests/sipp/pbx/caller.xml" \
    -s 5551234 -i "$pbx" -p 5070 -m 1 -nostdin -timeout 35 -timeout_error -trace_err \
    -error_file "$work/caller.err" >"$work/caller.out" 2>&1 &
caller=$!
wait_for "$work/out" "Call routed by the registrar: number from the Request-URI" 1 10
wait_for "$work/out" "Sending 200 response" 1 20
status_is dialled 5551234 "during the routed call"
wait "$caller" || fail "the caller's scenario: $(tail -n 5 "$work/caller.err" 2>/dev/null)"
wait_for "$work/out" "Globals inited" 1 15

echo "== the line dials 100: to the registrar, 407 answered with the line's credentials"
"${netns_caller[@]}" timeout 40 sipp -sf "$source/gateway/tests/sipp/pbx/callee.xml" -s 100 \
    -i "$callee" -p 5060 -m 1 -nostdin -timeout 35 -timeout_error -trace_err \
    -error_file "$work/callee.err" >"$work/callee.out" 2>&1 &
callee_sipp=$!
for _ in $(seq 100); do
    in_caller ss -Hlun 2>/dev/null | grep -qF "$callee:5060" && break
    sleep 0.1
done
[ "$(control ring)" = "OK ringing" ] || fail "the ring was not taken"
wait_for "$work/err" "Enter number to call" 1 10
control "digits 100#" >/dev/null
wait_for "$work/out" "Calling sip:100@$pbx" 1 10
wait_for "$work/out" "Answering the 407 challenge as line" 1 10
wait_for "$work/out" "Line call connected" 1 15
sleep 1
control hangup >/dev/null
wait "$callee_sipp" || fail "the callee's scenario: $(tail -n 5 "$work/callee.err" 2>/dev/null)"
wait_for "$work/out" "Globals inited" 2 15
grep -q "registrar: the line line calls sip:100@$pbx" "$work/kamailio.log" ||
    fail "Kamailio did not take the line's credentials"

echo "== Kamailio restarted with min_expires = 30: 423, then bound again with 30 s"
kill -TERM "$kamailio"
wait "$kamailio" 2>/dev/null
kamailio_start 30
wait_for "$work/out" "Registration: 423 Interval Too Brief: asking 30 s instead of 20 s" 1 25
wait_bound 5 "the gateway did not register again after the restart"
grep -q "granted 30 s" "$work/out" || fail "no grant of 30 s after the 423"

echo "== SIGTERM as a call ends: expires=0 reaches Kamailio, the binding is gone"
# The end of a call also ends the call cycle when a quit is asked for: the process must still
# wait for the registrar's answer to the expires=0 before it is gone.
"${netns_caller[@]}" timeout 40 sipp "$pbx:5060" -sf "$source/gateway/tests/sipp/pbx/caller.xml" \
    -s 5551234 -i "$pbx" -p 5070 -m 1 -nostdin -timeout 35 -timeout_error >/dev/null 2>&1 ||
    fail "the last call"
kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
grep -q "Registration: unregistered sip:line@$pbx" "$work/out" || fail "no unregistration"
bound && fail "Kamailio still holds the binding after the gateway ended"

if grep -aqE "runtime error:|Sanitizer" "$work/err"; then fail "sanitizer report in sipline's errors"; fi
if [ "$failures" -ne 0 ]; then
    echo "--- stdout (Registration)"; grep -a "Registration" "$work/out" | tail -n 20
    echo "--- stderr (end)"; tail -n 20 "$work/err"
    echo "--- kamailio (end)"; grep -a "registrar:" "$work/kamailio.log" | tail -n 20
    exit 1
fi
echo "registration: all passed"
