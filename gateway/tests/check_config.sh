#!/usr/bin/env bash
# sipline --check-config on the documented settings file and on bad ones: the effective settings
# and status 0, or the first error with file, line, column and key and status 2; --config with a
# bad file starts nothing.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
work=$(mktemp -d /tmp/sipline-config-XXXXXX)
trap 'rm -rf "$work"' EXIT
sipline=$build/bin/sipline

"$sipline" --check-config "$source/deploy/sipline.toml" > "$work/out" 2> "$work/err"
status=$?
[ "$status" -eq 0 ] || fail "deploy/sipline.toml: status $status: $(cat "$work/err")"
grep -qx 'codecs = \["GSM", "PCMU", "PCMA"\]' "$work/out" || fail "no codecs in: $(cat "$work/out")"
# What it prints is itself a settings file that reads back.
"$sipline" --check-config "$work/out" > /dev/null 2>&1 || fail "the printed settings do not read back"

cat > "$work/locked.toml" <<'TOML'
[security]
authenticate = true
allow = ["192.0.2.0/24"]
[[security.users]]
name = "alice"
password = "wonderland"
TOML
"$sipline" --check-config "$work/locked.toml" > "$work/out" 2>&1 || fail "a good file was refused"
grep -q "wonderland" "$work/out" && fail "--check-config printed a password"

# check NAME TEXT EXPECTED: a bad file gives status 2 and exactly the EXPECTED line.
check() {
    printf '%b' "$2" > "$work/$1.toml"
    local out status
    out=$("$sipline" --check-config "$work/$1.toml" 2>&1)
    status=$?
    [ "$status" -eq 2 ] || fail "$1: status $status, not 2"
    [ "$out" = "sipline: $work/$1.toml:$3" ] || fail "$1: \"$out\""
}
check unknown_key '[security]\nauthenticat = true\n' \
    '2:1: security.authenticat: expected one of allow, authenticate, realm, users, dial_allow, dial_deny, ban_after, ban_seconds, silent, digest_algorithms'
check wrong_type '[sip]\nport = "5060"\n' \
    '2:8: sip.port: expected an integer from 1 to 65535, found a string'
check bad_cidr '[security]\nallow = ["10.0.0.0/33"]\n' \
    '2:10: security.allow[0]: expected IPv4 addresses or blocks such as "192.0.2.0/24"'
check bad_regex '[security]\ndial_deny = ["09("]\n' \
    '2:14: security.dial_deny[0]: expected regular expressions (ECMAScript, at most 200 characters)'
check bad_codec '[rtp]\ncodecs = ["G729"]\n' \
    '2:11: rtp.codecs[0]: expected codec names: "GSM", "PCMU", "PCMA"'
check no_users '[security]\nauthenticate = true\n' \
    '2:16: security.authenticate: expected at least one [[security.users]] when authenticate = true'

out=$("$sipline" --config "$work/bad_cidr.toml" 2>&1)
status=$?
[ "$status" -eq 2 ] || fail "--config with a bad file: status $status"
case "$out" in *"Board initialized"*|*"UDP listen"*) fail "a bad file started the gateway" ;; esac
"$sipline" --check-config "$work/missing.toml" > /dev/null 2>&1
[ $? -eq 2 ] || fail "a missing file did not give status 2"
"$sipline" --config > /dev/null 2>&1
[ $? -eq 2 ] || fail "--config without a file did not give status 2"

[ "$failures" -eq 0 ] || exit 1
echo "check_config: all passed"
