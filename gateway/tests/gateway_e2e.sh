#!/usr/bin/env bash
# Runs build/bin/sipline with the simulated board inside private network, host-name and mount
# namespaces (so that port 5060, the host's name and /etc/hosts are the test's own), drives the
# line through the control socket and checks what the gateway prints.
set -euo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-e2e-XXXXXX)
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then
        kill -KILL "$gateway" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"

# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
use_host() {
    hostname "$1"
    printf '127.0.0.1 localhost\n%s\n' "$2" > "$work/hosts"
    mount --bind "$work/hosts" /etc/hosts
}
start_gateway() {
    # Emptied here, not by the background redirection, so that no wait reads the last run's.
    : > "$work/out"
    : > "$work/err"
    (cd "$work" && exec env "$@" "$build/bin/sipline" > "$work/out" 2> "$work/err") &
    gateway=$!
}
# Ends the gateway with a signal; 0 when it ended cleanly within 5 s.
stop_gateway() {
    kill "-$1" "$gateway"
    for _ in $(seq 50); do
        kill -0 "$gateway" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$gateway" 2>/dev/null; then
        fail "sipline did not end on SIG$1"
        return 1
    fi
    local status=0
    wait "$gateway" || status=$?
    gateway=
    [ "$status" -eq 0 ] || fail "sipline ended with status $status on SIG$1"
}

echo "== start-up, a ring, SIGTERM"
use_host linegw "127.0.1.1 linegw"
start_gateway BOARDSIM_CAPTURE="$work/heard.wav"
wait_for "$work/out" "UDP listen thread started"
wait_for "$work/out" "Creating OutTh"
expected_start=$(printf '%s\n' \
    "Size of Firmware Buffer for Record = 160" "Board initialized" "IP shortname: linegw" \
    "IP address: 127.0.1.1" "IP name: linegw")
grep -q "no --config: anyone who can reach this gateway may dial any number" "$work/err" ||
    fail "no warning that the gateway runs without settings"
[ "$(head -5 "$work/out")" = "$expected_start" ] || fail "start-up lines: $(head -5 "$work/out")"
# Lines 6 to 18: "SDP:", the eleven lines of the offer with their CRs, and the empty line.
cmp -s <(sed -n '6,18p' "$work/out") <(printf 'SDP:\nv=0\r\no=MARVA 123123453 123453 IN IP4 127.0.1.1\r\ns=Telephone call\r\nc=IN IP4 127.0.1.1\r\nt=0 0\r\nm=audio 10000 RTP/AVP 0 3 8 101\r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:3 GSM/8000\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:101 telephone-event/8000\r\na=fmtp:101 0-15\r\n\n') ||
    fail "the SDP offer is not the clean form byte for byte"
status=$(control status)
case "$status" in
    "OK hook=on line=idle dialled= played=0 recorded=0 prompts= opened=dxxxB1,dxxxB1C1,dxxxB1C3 "*) ;;
    *) fail "status after start-up: $status" ;;
esac
[ "$(control ring)" = "OK ringing" ] || fail "ring was not taken"
wait_for "$work/out" "ProcessEvent entered: State:11, evttype: 134, No error"
wait_for "$work/out" "ST_WTRING"
[ "$(control 'digits 12x')" = "ERR not a key: use 0-9, *, #, A-D" ] || fail "a bad key was taken"
stop_gateway TERM
grep -qx "Cleaning up" "$work/out" || fail "no \"Cleaning up\" after SIGTERM"
[ ! -e "$work/boardsim.sock" ] || fail "the control socket was left behind"
[ "$(head -c 4 "$work/heard.wav")" = "RIFF" ] || fail "the capture is not a WAV file"
umount /etc/hosts

echo "== a host name with dots, a board that cannot report its block size, SIGINT"
use_host gw.example.test "127.0.0.2 gw.example.test"
start_gateway BOARDSIM_BLOCK=fail
wait_for "$work/out" "UDP listen thread started"
grep -qx "IP shortname: gw.example.test" "$work/out" || fail "shortname line"
grep -qx "IP address: 127.0.0.2" "$work/out" || fail "address line"
grep -qx "Default Size of Firmware Buffer for Record = 768" "$work/err" || fail "no 768 default"
stop_gateway INT
grep -qx "Cleaning up" "$work/out" || fail "no \"Cleaning up\" after SIGINT"
umount /etc/hosts

echo "== a host name that does not resolve"
use_host nowhere "127.0.0.1 elsewhere"
status=0
(cd "$work" && timeout 10 "$build/bin/sipline" > "$work/out" 2> "$work/err") || status=$?
[ "$status" -eq 1 ] || fail "an unresolvable host name ended with status $status, not 1"
grep -qx "gethostbyname error" "$work/err" || fail "no \"gethostbyname error\""
umount /etc/hosts

if [ "$failures" -ne 0 ]; then
    echo "--- stdout"; cat "$work/out" || true
    echo "--- stderr"; cat "$work/err" || true
    exit 1
fi
echo "gateway end-to-end: all passed"
