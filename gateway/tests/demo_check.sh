#!/usr/bin/env bash
# make demo as a new user sees it: it ends well, prints the SIP ladder, the PCMA streams of both
# directions and the line's states, leaves both sides' recordings (not silent) and the
# spectrogram, shows the line echo canceller taking the echo out of what the caller hears, and
# leaves none of its callers or captures running.
set -uo pipefail
source_dir=$(realpath "${SIPLINE_SOURCE:-.}")
build=$(realpath "${SIPLINE_BUILD:-build}")
out=$(mktemp -d /tmp/sipline-democheck-XXXXXX)
trap 'rm -rf "$out"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# The check runs the demo without the other helper's part, which has tests of its own.
SIPLINE_DEMO_NO_LINE_TO_SIP=1 timeout 120 bash "$source_dir/scripts/demo.sh" "$build" "$out/demo" \
    >"$out/demo.txt" 2>&1 || fail "make demo ended with status $?"
for step in "INVITE sip:5551234@10.77.0.1" "100 Trying" "200 OK" "ACK sip:" "BYE sip:"; do
    grep -q "^sip  | .*$step" "$out/demo.txt" || fail "the ladder has no $step"
done
[ "$(grep -cE '^rtp  \| .* g711A(, telephone-event)? +[0-9]+ +0 \(0\.0%\)' "$out/demo.txt")" -eq 2 ] ||
    fail "not two PCMA streams without loss"
grep -q '^line | the line.s party heard the keys: heard_digits=123$' "$out/demo.txt" ||
    fail "the line's party did not hear the caller's keys 123"
grep -q '^demo | baresip saw the keys: 4#$' "$out/demo.txt" || fail "baresip did not see the keys 4#"
[ "$(grep -cE '^dtmf \| 10\.77\.0\.. +key .: [0-9]+ packets, 3 end packets' "$out/demo.txt")" -eq 5 ] ||
    fail "not five keys on the wire, each with three end packets"
grep -q '^rtcp | 10.77.0.1 -> 10.77.0.2' "$out/demo.txt" || fail "no RTCP from the gateway"
grep -q '^line | hook=off line=connected dialled=5551234' "$out/demo.txt" ||
    fail "no connected line"
grep -q '^sipline | Line call connected' "$out/demo.txt" || fail "the call from the line"
grep -q '^demo | sipline ended (status 0)' "$out/demo.txt" || fail "sipline did not end cleanly"
for f in far_party_heard caller_heard; do
    rms=$(sox "$out/demo/$f.wav" -n stat 2>&1 | awk '/RMS +amplitude/ { print $3 }')
    awk -v r="${rms:-0}" 'BEGIN { exit !(r > 0.02) }' || fail "$f.wav is silent (RMS ${rms:-none})"
done
[ -s "$out/demo/spectrogram.png" ] || fail "no spectrogram"
# The line with echo: the caller hears its voice back, and far less of it with the canceller.
off=$(sed -n 's/^demo | echo_cancel = false: the caller hears its own voice back at \(-*[0-9]*\) dBm0.*/\1/p' "$out/demo.txt")
on=$(sed -n 's/^demo | echo_cancel = true: the caller hears its own voice back at \(-*[0-9]*\) dBm0.*/\1/p' "$out/demo.txt")
if [ -z "$off" ] || [ -z "$on" ] || [ "$off" -lt -40 ] || [ "$on" -gt $((off - 10)) ]; then
    fail "the echo the caller heard: ${off:-none} dBm0 without the canceller, ${on:-none} dBm0 with it"
fi
[ -s "$out/demo/echo_spectrogram.png" ] || fail "no echo spectrogram"
sleep 0.5
pgrep -f "sipline-demo-" >/dev/null &&
    fail "processes left: $(pgrep -af "sipline-demo-" | head -n 3)"
if [ "$failures" -ne 0 ]; then
    cat "$out/demo.txt"
    exit 1
fi
echo "make demo: all checks passed"
