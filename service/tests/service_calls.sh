#!/usr/bin/env bash
# What the gateway shows of itself, across a scripted sequence of calls from SIPp in private
# namespaces: `sipline status` during a call, the Prometheus metrics (read by prometheus_client's
# own parser) and the status page after an answered and a refused call, the call records file in
# CSV, and in JSON Lines the record of a call in progress when the gateway is stopped.
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-service-XXXXXX)
scenarios=$source/gateway/tests/sipp
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -KILL "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
hostname gw
printf '127.0.0.1 gw localhost\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts
sox -n -r 8000 -c 1 -e u-law "$work/stream.wav" synth 60 sine 800 vol 0.5
# shellcheck source=../../gateway/tests/checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"

within() {
    awk -v v="${1:-0}" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'
}
# sipp_run NAME NUMBER [options...]: one call of the scenario, from the work folder.
sipp_run() {
    local name=$1 number=$2
    shift 2
    (cd "$work" && exec timeout 60 sipp -sf "$scenarios/$name.xml" -s "$number" 127.0.0.1:5060 \
        -m 1 -l 1 -nostdin -timeout 40 -timeout_error -trace_err -error_file "$work/$name.err" \
        "$@" > "$work/$name.out" 2>&1) ||
        { fail "scenario $name ($number): $(tail -n 5 "$work/$name.err" 2>/dev/null)"; return 1; }
}
# start_gateway FORMAT: the gateway with call records in FORMAT, metrics and the status socket.
start_gateway() {
    cat > "$work/sipline.toml" <<TOML
[security]
dial_deny = ["09.*"]

[log]
cdr = "$work/calls.$1"
cdr_format = "$1"

[metrics]
listen = "127.0.0.1:9460"

[service]
socket = "$work/status.sock"
TOML
    : > "$work/out"
    (cd "$work" && exec "$build/bin/sipline" --config "$work/sipline.toml" > "$work/out" 2> "$work/err") &
    gateway=$!
    wait_for "$work/out" "Creating OutTh" || { cat "$work/err"; exit 1; }
}
stop_gateway() {
    kill -TERM "$gateway"
    wait "$gateway" || fail "sipline did not end cleanly on SIGTERM"
    gateway=
    if grep -aqE "runtime error:|Sanitizer" "$work/err"; then fail "sanitizer report in sipline's errors"; fi
}
status() {
    "$build/bin/sipline" status --socket "$work/status.sock" "$@"
}

echo "== an answered call: sipline status shows it while it lasts"
start_gateway csv
sipp_run rtp_call 5551234 -d 4000 -p 5071 &
caller=$!
wait_for "$work/out" "Exiting ST_TXDIAL"
sleep 1
status > "$work/status.during" || fail "sipline status failed during the call"
for want in "line:          connected" "call:          sip-to-line, answered" \
    "caller:      sipp@127.0.0.1" "number:      5551234" "codec:       PCMU" "bans:          none"; do
    grep -qF "$want" "$work/status.during" || fail "status during the call lacks \"$want\""
done
received=$(sed -n 's/^  received: *\([0-9]*\) packets.*/\1/p' "$work/status.during")
within "${received:-0}" 10 1000 || fail "status showed ${received:-no} packets received after a second"
sent=$(sed -n 's/^  sent: *\([0-9]*\) packets.*/\1/p' "$work/status.during")
within "${sent:-0}" 10 1000 || fail "status showed ${sent:-no} packets sent after a second"
curl -sf http://127.0.0.1:9460/metrics | grep -q "^sipline_call_in_progress 1$" ||
    fail "the metrics did not show the call in progress"
wait "$caller" || fail "the answered call"
wait_for "$work/out" "IODONE fininshed"
wait_for "$work/out" "Globals inited"

echo "== a refused call: 403 for a number in dial_deny"
sipp_run forbidden 0900123 -p 5072 || fail "no 403 for a denied number"

echo "== the metrics match the calls, the status page names the last one"
curl -sf http://127.0.0.1:9460/metrics > "$work/metrics" || fail "no /metrics"
/usr/bin/python3 - "$work/metrics" <<'PY' || fail "the metrics do not match the calls"
import sys
from prometheus_client.parser import text_string_to_metric_families
samples = {}
for family in text_string_to_metric_families(open(sys.argv[1]).read()):
    for s in family.samples:
        samples[(s.name, tuple(sorted(s.labels.items())))] = s.value
def value(name, **labels):
    return samples.get((name, tuple(sorted(labels.items()))))
want = {
    ("sipline_calls_total", (("direction", "sip-to-line"), ("outcome", "answered"))): 1,
    ("sipline_calls_total", (("direction", "sip-to-line"), ("outcome", "refused"))): 1,
    ("sipline_calls_total", (("direction", "sip-to-line"), ("outcome", "unanswered"))): 0,
    ("sipline_calls_total", (("direction", "line-to-sip"), ("outcome", "answered"))): 0,
    ("sipline_sip_requests_total", (("method", "INVITE"),)): 2,
    ("sipline_sip_requests_total", (("method", "BYE"),)): 1,
    ("sipline_sip_answers_total", (("code", "200"), ("method", "INVITE"))): 1,
    ("sipline_sip_answers_total", (("code", "403"), ("method", "INVITE"))): 1,
    ("sipline_sip_answers_total", (("code", "200"), ("method", "BYE"))): 1,
    ("sipline_security_refusals_total", ()): 1,
    ("sipline_auth_failures_total", ()): 0,
    ("sipline_call_in_progress", ()): 0,
    ("sipline_line_state", (("state", "idle"),)): 1,
    ("sipline_registration_state", (("state", "not configured"),)): 1,
}
bad = [f"{k}: {samples.get(k)} not {v}" for k, v in want.items() if samples.get(k) != v]
mos = samples.get(("sipline_last_call_mos", ()), 0)
if not 4.0 <= mos <= 4.5:
    bad.append(f"last call MOS {mos}, not that of a clean G.711 call")
for line in bad:
    print(line)
sys.exit(1 if bad else 0)
PY
curl -sf http://127.0.0.1:9460/ > "$work/page.html" || fail "no status page"
grep -q "<td>0900123</td>" "$work/page.html" || fail "the status page does not name the refused call"
grep -q "<td>5551234</td>" "$work/page.html" || fail "the status page does not name the answered call"
grep -qi "<script" "$work/page.html" && fail "the status page carries a script"
code=$(curl -s -o /dev/null -w '%{http_code}' -X POST http://127.0.0.1:9460/metrics)
[ "$code" = 405 ] || fail "a POST was answered $code, not 405"
status calls | grep -q "sipp@127.0.0.1 -> 5551234" || fail "sipline status calls lacks the call"
stop_gateway
[ -e "$work/status.sock" ] && fail "the status socket outlived the gateway"
/usr/bin/python3 - "$work/calls.csv" <<'PY' || fail "the CSV call records are not as expected"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
assert len(rows) == 2, rows
refused = rows[1]
assert (refused["number"], refused["end_reason"], refused["answer"]) == ("0900123", "refused 403: number not allowed", ""), refused
r = rows[0]
assert (r["direction"], r["caller"], r["number"], r["codec"]) == ("sip-to-line", "sipp@127.0.0.1", "5551234", "PCMU"), r
assert (r["end_reason"], r["end_side"]) == ("bye", "sip"), r
assert r["start"] <= r["answer"] < r["end"], r
assert int(r["packets_received"]) > 50 and int(r["packets_sent"]) > 50, r
assert 90 <= float(r["r_factor"]) <= 93.3 and float(r["mos"]) > 4.3, r
PY

echo "== logrotate renames the records, SIGHUP: the next go to the new file (JSON Lines)"
start_gateway jsonl
status | grep -q "call:          none" || fail "status showed a call before any"
sipp_run forbidden 0900124 -p 5074 || fail "no 403 for a denied number"
mv "$work/calls.jsonl" "$work/calls.jsonl.1"
kill -HUP "$gateway"
wait_for "$work/err" "sipline.toml applied" || fail "the reload was not applied"
[ -e "$work/calls.jsonl" ] || fail "the reload did not open the call records anew"
grep -q '"0900124"' "$work/calls.jsonl.1" || fail "the refused call is not in the rotated file"

echo "== SIGTERM during a call: its record is written"
sipp_run rtp_call 5550002 -d 20000 -p 5073 &
wait_for "$work/out" "Exiting ST_TXDIAL"
sleep 1
stop_gateway
/usr/bin/python3 - "$work/calls.jsonl" <<'PY' || fail "the record of the call cut by SIGTERM is not as expected"
import json, sys
lines = open(sys.argv[1]).read().splitlines()
assert len(lines) == 1, lines
r = json.loads(lines[0])
assert (r["number"], r["end_reason"], r["end_side"]) == ("5550002", "shutdown", "gateway"), r
assert r["answer"] and r["end"] and r["packets_received"] > 10, r
PY

if [ "$failures" -ne 0 ]; then
    echo "--- stderr (end)"; tail -n 30 "$work/err"
    echo "$failures failure(s)"
    exit 1
fi
echo "service calls: all passed"
