#!/usr/bin/env bash
# Whole calls through build/bin/sipline with the simulated board, inside private network,
# host-name and mount namespaces: SIPp is the caller on the network, the board's control socket
# is the line.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-calls-XXXXXX)
scenarios=$source/gateway/tests/sipp
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then
        kill -KILL "$gateway" 2>/dev/null || true
    fi
    jobs -p | xargs -r kill 2>/dev/null || true
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
hostname gw
printf '127.0.0.1 gw localhost\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts

# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
# sipp_run NAME NUMBER [options...]: the scenario's calls must all succeed.
sipp_run() {
    local name=$1 number=$2
    shift 2
    if ! timeout 60 sipp -sf "$scenarios/$name.xml" -s "$number" 127.0.0.1:5060 -m 1 -l 1 \
        -nostdin -timeout 40 -timeout_error -trace_err -error_file "$work/$name.err" "$@" \
        > "$work/$name.out" 2>&1; then
        fail "scenario $name ($number): $(tail -n 20 "$work/$name.err" 2>/dev/null)"
        return 1
    fi
}
idle() {
    wait_for "$work/out" "Globals inited" "$1"
    status_is hook on "$2"
    sipp_run options 100 -p 5079 || fail "$2: the gateway is not idle"
}

: > "$work/out"
(cd "$work" && exec "$build/bin/sipline" > "$work/out" 2> "$work/err") &
gateway=$!
wait_for "$work/out" "Creating OutTh"

echo "== a call from the network, ended by the caller's BYE; a second INVITE meanwhile gets 503"
sipp_run call 5551234 -d 2500 -p 5071 &
caller=$!
wait_for "$work/out" "Exiting ST_TXDIAL"
status_is line connected "during the call"
status_is dialled 5551234 "during the call"
status_is hook off "during the call"
sipp_run busy 777 -p 5072 || fail "no 503 to a second INVITE during the call"
wait "$caller" || fail "the call from the network"
[ "$(grep -c '^Content-Length: 163' "$work/out")" -ge 2 ] || fail "the 200 was not sent again before the ACK"
grep -q "^ACKed" "$work/out" || fail "no ACK reached the gateway"
wait_for "$work/out" "IODONE fininshed"
idle 1 "after the caller's BYE"

echo "== the line's party hangs up: the gateway's BYE"
sipp_run line_hangup 5550001 -p 5071 &
caller=$!
wait_for "$work/out" "Exiting ST_TXDIAL" 2
control hangup > /dev/null
wait "$caller" || fail "the gateway's BYE"
wait_for "$work/out" "Local hangup finished"
idle 2 "after the line's hang-up"

echo "== CANCEL before the 200: 200, 487, no BYE"
sipp_run cancel 5550002 -p 5071 || fail "CANCEL"
wait_for "$work/out" "Sending 487 response"
[ "$(grep -c "^SIP/2.0 487 Request Terminated" "$work/out")" -ge 2 ] || fail "the 487 was not sent again before its ACK"
idle 3 "after the CANCEL"
[ "$(grep -c '^Sending BYE' "$work/out")" -eq 1 ] || fail "a BYE was sent after the CANCEL"

echo "== numbers that are not numbers, or do not fit: 404"
cycles=3
for number in abc 0 1234567890123456789012345678901234567890; do
    sipp_run refused "$number" -p 5071 || fail "404 for $number"
    cycles=$((cycles + 1))
    idle "$cycles" "after the 404 for $number"
done

echo "== three calls in a row"
sipp_run call 5550003 -m 3 -d 200 -p 5071 || fail "three calls in a row"
cycles=$((cycles + 3))
idle "$cycles" "after three calls"

echo "== a call from the line to a number the directory does not know"
[ "$(control ring)" = "OK ringing" ] || fail "ring was not taken"
wait_for "$work/out" "ST_RXOFFHK"
for _ in $(seq 50); do
    control status | grep -q "prompts=enter.vox" && break
    sleep 0.1
done
control "digits 9999#" > /dev/null
wait_for "$work/err" "Enter number to call"
for _ in $(seq 60); do
    control status | grep -q "hook=on" && break
    sleep 0.1
done
status_is prompts enter.vox,notfound.vox "after 9999#"
status_is hook on "after notfound.vox"
grep -q "Setting event: setup_connection" "$work/out" && fail "9999 reached the media set-up"

echo "== a call from the line to 101: media set-up, hang-up, idle"
[ "$(control ring)" = "OK ringing" ] || fail "second ring was not taken"
wait_for "$work/out" "ST_RXOFFHK" 2
control "digits 101#" > /dev/null
wait_for "$work/out" "Setting event: setup_connection succeeded"
wait_for "$work/out" "Line call connected"
control hangup > /dev/null
wait_for "$work/out" "Local hangup finished" 2
cycles=$((cycles + 1))
idle "$cycles" "after the call from the line"

echo "== the gateway's first BYE is lost: it is sent again, and its 200 ends the transaction"
dialled=$(grep -c "Exiting ST_TXDIAL" "$work/out")
timeout 40 python3 "$source/gateway/tests/bye_lost.py" 127.0.0.1 5550004 5073 > "$work/lost.out" 2>&1 &
caller=$!
wait_for "$work/out" "Exiting ST_TXDIAL" $((dialled + 1))
control hangup > /dev/null
wait "$caller" || fail "the lost BYE: $(tail -n 3 "$work/lost.out")"
caller=
cat "$work/lost.out"
wait_for "$work/out" "BYE answered 200"
[ "$(grep -c '^BYE sent again' "$work/out")" -eq 1 ] || fail "the BYE was not sent again exactly once"
cycles=$((cycles + 1))
idle "$cycles" "after the lost BYE"

grep -q "did not end" "$work/err" && fail "an audio thread was left running"
grep -aqE "runtime error:|Sanitizer" "$work/err" && fail "sanitizer report in sipline's errors"
kill -TERM "$gateway"
wait "$gateway" || fail "sipline did not end cleanly"
gateway=
if [ "$failures" -ne 0 ]; then
    echo "--- stdout"; tail -n 200 "$work/out" || true
    echo "--- stderr"; tail -n 100 "$work/err" || true
    exit 1
fi
echo "gateway calls end-to-end: all passed"
