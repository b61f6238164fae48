#!/usr/bin/env bash
# The gateway locked down by its settings file, tried from a second namespace as an attacker
# would (sipvicious) and as its owner does (SIPp with credentials): scans place no call, a
# password guesser is banned while a legitimate caller from another address still gets through,
# wrong credentials, a source outside the allow-list and a forbidden number never reach the line,
# and fail2ban's filter reads the security lines.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
scenarios=$source/gateway/tests/sipp
# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
work=$(mktemp -d /tmp/sipline-security-XXXXXX)
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -KILL "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    netns_cleanup
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"

gw=10.22.0.1
attacker=10.22.0.2
owner=10.22.0.3
stranger=10.22.0.200  # outside allow
netns_caller_start "$gw" "$attacker"
in_caller ip addr add "$owner/24" dev sipcall0
in_caller ip addr add "$stranger/24" dev sipcall0
netns_use_host gw "$gw" "$work/hosts"

cat > "$work/sipline.toml" <<TOML
[security]
allow = ["10.22.0.0/25"]
authenticate = true
dial_deny = ["09.*"]
ban_after = 5
ban_seconds = 600

[[security.users]]
name = "alice"
password = "wonderland"

[log]
access_log = "$work/access.log"
TOML
(cd "$work" && exec "$build/bin/sipline" --config "$work/sipline.toml" > "$work/out" 2> "$work/err") &
gateway=$!
wait_for "$work/out" "Creating OutTh" || { cat "$work/err"; exit 1; }
grep -q "anyone who can reach" "$work/err" && fail "the open-gateway warning came with a settings file"

# sipp_as SOURCE SCENARIO NUMBER [OPTIONS...]: one call from SOURCE; 0 when the scenario passed.
sipp_as() {
    local from=$1 name=$2 number=$3
    shift 3
    timeout 30 "${netns_caller[@]}" sipp -sf "$scenarios/$name.xml" -s "$number" "$gw:5060" \
        -i "$from" -p 0 -m 1 -l 1 -nostdin -timeout 20 -timeout_error -trace_err \
        -error_file "$work/$name.err" "$@" > "$work/$name.out" 2>&1
}
untouched() {
    status_is hook on "$1"
    status_is dialled "" "$1"
}

echo "== svmap and svwar find the gateway but place no call"
timeout 30 "${netns_caller[@]}" svmap "$gw" > "$work/svmap.out" 2>&1
grep -q "| $gw:" "$work/svmap.out" || fail "svmap did not even find the gateway: $(cat "$work/svmap.out")"
timeout 40 "${netns_caller[@]}" svwar -m INVITE --force -e900-905 "$gw" > "$work/svwar.out" 2>&1
untouched "after svwar"
grep -q "security refused" "$work/err" && fail "a scan without credentials counted as a failure"

echo "== wrong credentials, a stranger and a forbidden number never reach the line"
sipp_as "$owner" auth_refused 0612345678 -au alice -ap looking-glass ||
    fail "a wrong password was not challenged again: $(tail -n 5 "$work/auth_refused.err")"
grep -q 'security refused source=10.22.0.3 reason="wrong credentials" user="alice"' "$work/err" ||
    fail "no security line for the wrong password"
sipp_as "$owner" auth_refused 0612345678 -au mallory -ap wonderland ||
    fail "a wrong user was not challenged again"
sipp_as "$stranger" forbidden 0612345678 || fail "a source outside allow was not refused 403"
grep -q 'security refused source=10.22.0.200 reason="source not allowed"' "$work/err" ||
    fail "no security line for the stranger"
sipp_as "$owner" auth_refused 0900123456 -au alice -ap wonderland ||
    fail "a number in dial_deny was not refused"
grep -q 'reason="number not allowed" user="alice"' "$work/err" || fail "no line for the number"
untouched "after the refusals"

echo "== svcrack is banned while the owner calls from another address"
seq -f "guess%g" 1 40 > "$work/words"
timeout 60 "${netns_caller[@]}" svcrack -u alice -d "$work/words" "$gw" > "$work/svcrack.out" 2>&1 &
cracker=$!
wait_for "$work/err" "security banned source=$attacker" 1 30
sipp_as "$owner" auth_call 0612345678 -au alice -ap wonderland -d 2000 &
owner_call=$!
wait "$owner_call" || fail "the owner's call did not complete: $(tail -n 5 "$work/auth_call.err")"
wait "$cracker"
grep -qi "found" "$work/svcrack.out" && grep -q "wonderland" "$work/svcrack.out" &&
    fail "svcrack found the password"
refusals=$(grep -c "security refused source=$attacker" "$work/err")
[ "$refusals" -le 6 ] || fail "the cracker had $refusals tries answered, not at most ban_after"
grep -q "dialled=0612345678" <(control status) || fail "the owner's number was not dialled"

echo "== the access log and fail2ban's filter read the gateway"
[ -s "$work/access.log" ] || fail "the access log stayed empty"
grep -q '" 401$' "$work/access.log" || fail "no challenge in the access log: $(head -3 "$work/access.log")"
matched=$(fail2ban-regex "$work/err" "$source/deploy/fail2ban/filter.d/sipline.conf" 2>&1 |
    sed -n 's/^Lines: .* \([0-9]*\) matched.*/\1/p')
[ "${matched:-0}" -ge 5 ] || fail "fail2ban's filter matched ${matched:-no} lines"

kill -0 "$gateway" 2>/dev/null || fail "sipline is not running any more"
kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
if grep -aqE "runtime error:|Sanitizer" "$work/err"; then fail "sanitizer report in sipline's errors"; fi
if [ "$failures" -ne 0 ]; then
    echo "--- stderr (end)"; tail -n 40 "$work/err"
    echo "--- svcrack"; tail -n 20 "$work/svcrack.out"
    exit 1
fi
echo "gateway_security: all passed"
