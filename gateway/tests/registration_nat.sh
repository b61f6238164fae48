#!/usr/bin/env bash
# The gateway behind a masquerading NAT (nftables) registers to Kamailio outside it
# (deploy/kamailio/registrar.cfg, which does no NAT handling of its own):
# - the 200's top Via tells the gateway where the registrar saw it; the gateway registers that
#   address at once and removes the private one, so Kamailio holds only the public Contact;
# - a SIPp caller calls a number at the registrar: the INVITE crosses the NAT to the line, and
#   the caller's ACK and BYE, relayed by the registrar to the gateway's Contact, cross it too;
# - the SDP of both kinds of 200 (the answer to an offer, and the gateway's own offer to an
#   INVITE without one) names the public address;
# - SIGTERM: the public binding is removed.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-registration-nat-XXXXXX)
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

pbx=10.81.0.1     # Kamailio and the caller, here
public=10.81.0.2  # the NAT's outside address
inside=192.168.81.2
netns_caller_start "$pbx" "$public"
netns_nat_start 192.168.81.1 "$inside"
netns_use_host gw "$inside" "$work/hosts"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
mkdir -p "$work/kamailio"
ctl="unix:$work/kamailio/ctl.sock"

kamailio -DD -E -f "$source/deploy/kamailio/registrar.cfg" -Y "$work/kamailio" \
    -A "REG_LISTEN=udp:$pbx:5060" -A "REG_MIN_EXPIRES=10" -A "REG_CTL=\"$ctl\"" \
    >>"$work/kamailio.log" 2>&1 &
for _ in $(seq 100); do
    ss -Hlun 2>/dev/null | grep -qF "$pbx:5060" && break
    sleep 0.1
done
bindings() {
    kamcmd -s "$ctl" ul.dump 2>/dev/null | grep -o "sip:line@[0-9.]*:[0-9]*" | sort -u | tr '\n' ' '
}

cat >"$work/sipline.toml" <<TOML
[registration]
registrar = "sip:$pbx"
user = "line"
password = "line-secret"
expires = 60
keepalive = 5
TOML
: >"$work/out"
: >"$work/err"
(cd "$work" && exec "${netns_phone[@]}" "$build/bin/sipline" --config "$work/sipline.toml" \
    >"$work/out" 2>"$work/err") &
gateway=$!

echo "== the registrar's Via shows the NAT: the public address is registered, the private one removed"
wait_for "$work/out" "Registration: the registrar sees the gateway at $public:" 1 15 || exit 1
seen=$(grep -o "sees the gateway at $public:[0-9]*" "$work/out" | head -n 1 | cut -d" " -f5)
wait_for "$work/out" "Registration: registered as sip:line@$pbx" 1 10 || exit 1
bound=$(bindings)
echo "Kamailio holds: $bound"
[ "$bound" = "sip:line@$seen " ] || fail "Kamailio holds \"$bound\", not sip:line@$seen alone"
[ "$(grep -c "sees the gateway at" "$work/out")" -eq 1 ] || fail "the address was learned more than once"

echo "== a caller of 5551234 at the registrar reaches the line across the NAT"
timeout 40 sipp "$pbx:5060" -sf "$source/gateway/tests/sipp/pbx/caller.xml" -s 5551234 -i "$pbx" \
    -p 5070 -m 1 -nostdin -timeout 35 -timeout_error -trace_err -trace_msg \
    -message_file "$work/caller.msg" -error_file "$work/caller.err" >"$work/caller.out" 2>&1 &
caller=$!
wait_for "$work/out" "Call routed by the registrar: number from the Request-URI" 1 10
wait_for "$work/out" "Sending 200 response" 1 20
status_is dialled 5551234 "during the call across the NAT"
wait "$caller" || fail "the caller's scenario: $(tail -n 5 "$work/caller.err" 2>/dev/null)"
grep -q "^Contact: <sip:[^>]*@$seen>" "$work/caller.msg" ||
    fail "the gateway's 200 does not name its public address: $(grep -m1 '^Contact:' "$work/caller.msg")"
grep -q "^c=IN IP4 $public" "$work/caller.msg" ||
    fail "the SDP answer does not name the public address: $(grep -m1 '^c=' "$work/caller.msg")"
wait_for "$work/out" "Globals inited" 1 15
status_is hook on "after the caller's BYE"

echo "== an INVITE without an offer: the gateway's offer in the 200 names the public address"
timeout 40 sipp "$pbx:5060" -sf "$source/gateway/tests/sipp/pbx/caller_no_offer.xml" -s 5551235 \
    -i "$pbx" -p 5071 -m 1 -nostdin -timeout 35 -timeout_error -trace_err -trace_msg \
    -message_file "$work/no_offer.msg" -error_file "$work/no_offer.err" >"$work/no_offer.out" 2>&1 ||
    fail "the caller without an offer: $(tail -n 5 "$work/no_offer.err" 2>/dev/null)"
grep -q "^c=IN IP4 $public" "$work/no_offer.msg" ||
    fail "the offer in the 200 does not name the public address: $(grep -m1 '^c=' "$work/no_offer.msg")"
grep -q "^c=IN IP4 $inside" "$work/no_offer.msg" && fail "the offer in the 200 names $inside"
wait_for "$work/out" "Globals inited" 2 15

echo "== SIGTERM: the public binding is removed"
kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
grep -q "Registration: unregistered sip:line@$pbx" "$work/out" || fail "no unregistration"
[ -z "$(bindings)" ] || fail "Kamailio still holds $(bindings)"

if grep -aqE "runtime error:|Sanitizer" "$work/err"; then fail "sanitizer report in sipline's errors"; fi
if [ "$failures" -ne 0 ]; then
    echo "--- stdout (Registration)"; grep -a "Registration" "$work/out" | tail -n 20
    echo "--- stderr (end)"; tail -n 20 "$work/err"
    echo "--- kamailio (end)"; grep -a "registrar:" "$work/kamailio.log" | tail -n 20
    exit 1
fi
echo "registration behind a NAT: all passed"
