#!/usr/bin/env bash
# A registrar that answers badly, one way per run of the gateway (gateway/tests/
# registrar_faults.py on loopback, in a private namespace): each failure is one clear line on
# standard error, the next attempt is 20 s away (no busy loop: the REGISTERs in 3 s are counted),
# and the gateway survives; a 200 without any expiry is taken for the time asked, and said.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-registration-faults-XXXXXX)
gateway=
registrar=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -KILL "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
netns_use_host gw 127.0.0.1 "$work/hosts"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
cat >"$work/sipline.toml" <<TOML
[registration]
registrar = "sip:127.0.0.1:5070"
user = "line"
password = "line-secret"
expires = 60
TOML

# run MODE ERROR_TEXT MOST: the gateway against the registrar in MODE for 3 s; ERROR_TEXT must be
# on its standard error, and at most MOST REGISTERs may have been sent.
run() {
    local mode=$1 text=$2 most=$3
    : >"$work/$mode.log"
    python3 "$source/gateway/tests/registrar_faults.py" 127.0.0.1 5070 "$mode" "$work/$mode.log" &
    registrar=$!
    wait_udp 5070 5 || return 1
    (cd "$work" && exec "$build/bin/sipline" --config "$work/sipline.toml" \
        >"$work/$mode.out" 2>"$work/$mode.err") &
    gateway=$!
    if [ -n "$text" ]; then
        wait_for "$work/$mode.err" "$text" 1 5
        sleep 2
    else
        sleep 3
    fi
    local sent
    sent=$(wc -l <"$work/$mode.log")
    [ "$sent" -le "$most" ] || fail "$mode: $sent REGISTERs in 3 s"
    kill -0 "$gateway" 2>/dev/null || fail "$mode: the gateway ended"
    kill -TERM "$gateway"
    wait "$gateway" || fail "$mode: sipline did not end cleanly"
    gateway=
    kill "$registrar"
    wait "$registrar" 2>/dev/null
    if grep -aqE "runtime error:|Sanitizer" "$work/$mode.err"; then fail "$mode: sanitizer report"; fi
    echo "ok: $mode: $sent REGISTER(s); $(grep -a "Registration" "$work/$mode.err" | head -n 1)"
}

run 503 "failed: 503 Service Unavailable" 1
grep -q "next attempt in 20 s" "$work/503.out" || fail "503: no retry in 20 s said"
run 302 "302 Moved Temporarily (redirects are not followed)" 1
run min0 "423 Interval Too Brief without a usable Min-Expires" 1
run min2p31 "423 Interval Too Brief without a usable Min-Expires" 1
run loop401 "the credentials of line were refused" 2
run noexpires "the registrar's 200 gives no expiry; taking the 60 s asked for" 1
grep -q "Registration: registered as sip:line@127.0.0.1 until .* (granted 60 s" "$work/noexpires.out" ||
    fail "noexpires: not registered for the 60 s asked"
# A registrar that answers garbage: the REGISTER is sent again on timer E alone (at 0.5 and
# 1.5 s; its failure after 32 s is the silent registrar's, the 503's retry schedule).
run garbage "" 3

if [ "$failures" -ne 0 ]; then
    for f in "$work"/*.err; do echo "--- $(basename "$f")"; tail -n 5 "$f"; done
    exit 1
fi
echo "registration_faults: all passed"
