#!/usr/bin/env bash
# End-to-end tests of the user-agent server: SIPp scenarios against uas_harness on port 5060,
# inside a private network namespace so that nothing else on the machine is disturbed.
set -uo pipefail

if [ -z "${SIPLINE_NETNS:-}" ]; then
  exec env SIPLINE_NETNS=1 unshare -n bash "$0" "$@"
fi
ip link set lo up

build=${SIPLINE_BUILD:-build}
source_dir=${SIPLINE_SOURCE:-.}
scenarios=$source_dir/sip/uas/tests/sipp
harness=$build/tests/uas_harness
work=$(mktemp -d)
harness_pid=
failures=0

cleanup() {
  [ -n "$harness_pid" ] && kill "$harness_pid" 2>/dev/null && wait "$harness_pid" 2>/dev/null
  if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# sipp_run NAME SERVICE [sipp options...]: one call of the scenario NAME.xml must succeed.
sipp_run() {
  local name=$1 service=$2
  shift 2
  if ! timeout 60 sipp -sf "$scenarios/$name.xml" -s "$service" 127.0.0.1:5060 -m 1 -nostdin \
      -timeout 40 -timeout_error -trace_err -error_file "$work/$name.err" "$@" \
      >"$work/$name.out" 2>&1; then
    fail "scenario $name ($service): $(tail -n 20 "$work/$name.err" 2>/dev/null)"
    return 1
  fi
  echo "ok: scenario $name ($service)"
}

# expect_log PATTERN WHAT: the harness output holds a line matching PATTERN.
expect_log() {
  grep -Eq -- "$1" "$work/harness.out" || fail "$2 (no line matching '$1' in the harness output)"
}

# records: the live request records the harness reports.
records() {
  kill -USR1 "$harness_pid"
  sleep 0.3
  grep '^RECORDS ' "$work/harness.out" | tail -n 1 | cut -d' ' -f2
}

# udp_exchange TEXT: sends TEXT (printf escapes) to the server and prints the first line of
# the first answer that arrives within a second at port 5090, which the request's Via names.
udp_exchange() {
  local answers=$work/answers.$RANDOM
  timeout 3 socat -u UDP-RECV:5090 "OPEN:$answers,creat" &
  local receiver=$!
  sleep 0.2
  printf "$1" | socat -u - UDP-SENDTO:127.0.0.1:5060
  sleep 1
  kill "$receiver" 2>/dev/null; wait "$receiver" 2>/dev/null
  head -n 1 "$answers" 2>/dev/null
}

# request METHOD URI VERSION CSEQ [EXTRA-HEADER]: a request text for udp_exchange.
request() {
  printf '%s %s SIP/%s\\r\\nVia: SIP/2.0/UDP 127.0.0.1:5090;branch=z9hG4bK9\\r\\n' "$1" "$2" "$3"
  printf 'From: <sip:t@127.0.0.1>;tag=9\\r\\nTo: <sip:1234@gw>\\r\\nCall-ID: version@test\\r\\n'
  printf 'CSeq: %s\\r\\n%sContent-Length: 0\\r\\n\\r\\n' "$4" "${5:+$5\\r\\n}"
}

# The harness takes half a second after a remote hang-up before it takes the next call.
settle() {
  sleep 1
}

start_harness() {
  "$harness" "$@" >"$work/harness.out" 2>&1 &
  harness_pid=$!
  for _ in $(seq 50); do
    grep -q "UDP listener started" "$work/harness.out" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "harness did not start"
  exit 1
}

pipe_format='%{User-Agent}i|%{Cseq}o|%s|%U|%a|%{SIPLINE_NETNS}e|%{%H:%M}t|%T|%q%%\t.'
start_harness "$work/access.log" - "|cat >> $work/pipe.log" "$pipe_format"
baseline=$(records)

# Answers with no call in progress, their header order, two requests in one datagram.
sipp_run no_call 1234 -p 5071

# Checks in their order; the ACK of a refused INVITE ends its retransmission at once.
sipp_run checks 1234 -p 5072
sleep 0.5
[ "$(records)" = "$baseline" ] || fail "refused INVITEs still held after their ACK: $(records) records"

# Versions other than 2.0 are refused 505 in their own version; a later failing check wins.
answer=$(udp_exchange "$(request INVITE sip:1234@gw 3.0 '1 INVITE' 'Require: 100rel')")
[ "$answer" = $'SIP/3.0 420 Bad Extension\r' ] || fail "INVITE SIP/3.0 with Require: got '$answer'"
udp_exchange "$(request ACK sip:1234@gw 2.0 '1 ACK')" >/dev/null
answer=$(udp_exchange "$(request OPTIONS sip:1234@gw 2.1 '2 OPTIONS')")
[ "$answer" = $'SIP/2.1 505 SIP Version not supported\r' ] || fail "OPTIONS SIP/2.1: got '$answer'"
sleep 0.5
[ "$(records)" = "$baseline" ] || fail "refused requests still held: $(records) records"
echo "ok: other protocol versions"

# A call: 100, 200, ACK; the 200's sender returns as soon as the ACK is in.
sipp_run call 1234 -p 5073 -d 300
settle
expect_log '^HARNESS event 0 state 9 dial 1234 rtp 224\.2\.17\.12:4000 ttl 127$' "INVITE posts EV_WAKEUP with the SDP's address"
expect_log '^HARNESS 200 returned after 0\.[0-9] s acked=1$' "200 sender returns at once after the ACK"
expect_log '^Retransmission of INVITE$' "retransmitted INVITE ignored"
expect_log '^BYE received: setting the event$' "BYE posts the remote hang-up"
expect_log '^Already finished$' "second BYE changes nothing"
expect_log '^HARNESS event 8184 state 7 ' "EV_REMOTE_HANGUP posted"
sleep 0.3
[ "$(records)" = "$baseline" ] || fail "records left after a call: $(records), expected $baseline"

# A second call is refused while one is in progress.
sipp_run call 1300 -p 5074 -d 2500 &
call_pid=$!
sleep 1
sipp_run busy 1400 -p 5075
wait $call_pid || fail "call during busy test"
settle
expect_log '^Service unavailable to:INVITE$' "second INVITE refused"
expect_log '^Service unavailable to:BYE$' "foreign BYE ignored"

# CANCEL of the call in progress, and its retransmission.
sipp_run cancel 3000 -p 5076
settle
expect_log '^CANCEL$' "CANCEL ends the call"
expect_log '^HARNESS call ended$' "CANCEL wakes the state machine"
[ "$(grep -c '^CANCEL$' "$work/harness.out")" = 1 ] || fail "retransmitted CANCEL acted again"

# The gateway's own BYE, and readiness for the next call right after its answer.
sipp_run gateway_bye 2000 -p 5077
expect_log '^HARNESS BYE returned after 0\.[0-9] s$' "BYE sender returns at once"
sipp_run call 1500 -p 5078 -d 100
settle

# INVITEs the handler refuses; "kx" dials 26.
sipp_run not_for_us 1234 -p 5079
for number in abc 0 123456789012345678901234; do
  sipp_run not_found "$number" -p 5080
  settle
done
expect_log '^Dialstr is not a number$' "non-numeric number refused"
expect_log '^Dialstr too long$' "over-long number refused"
sipp_run call kx77 -p 5081 -d 100
settle
expect_log '^HARNESS event 0 state 9 dial 26 ' "kx dials 26"

# Answers go to the sender's address at the port the Via names.
sed 's#Via: SIP/2.0/UDP \[local_ip\]:\[local_port\]#Via: SIP/2.0/UDP 192.0.2.77:5082#' \
  "$scenarios/no_call.xml" >"$work/other_via.xml"
if ! timeout 30 sipp -sf "$work/other_via.xml" -s 1234 127.0.0.1:5060 -m 1 -nostdin -p 5082 \
    -timeout 20 -timeout_error >"$work/other_via.out" 2>&1; then
  fail "answer to a Via naming another host"
else
  echo "ok: answers go to the sender's address and the Via's port"
fi

# The 200 is retransmitted until the ACK, on the wire as tshark reads it.
dumpcap -q -i lo -f 'udp port 5083' -w "$work/retransmit.pcapng" >/dev/null 2>&1 &
dumpcap_pid=$!
sleep 1
sipp_run retransmit 1600 -p 5083
sleep 0.5
kill "$dumpcap_pid"; wait "$dumpcap_pid" 2>/dev/null
tshark -r "$work/retransmit.pcapng" -Y 'sip.Status-Code == 200 && sip.CSeq.method == "INVITE" || sip.Method == "ACK"' \
  -T fields -e frame.time_relative -e sip.Status-Code -e sip.Method >"$work/retransmit.txt" 2>/dev/null
awk '
  $2 == 200 { if (!first) first = $1; if (acked) late++; else n++; last = $1 }
  $2 == "ACK" { acked = $1 }
  END {
    if (n < 3 || n > 5) { print "expected 3 to 5 transmissions of the 200 before the ACK, saw " n; exit 1 }
    if (late > 0) { print late " transmissions of the 200 after the ACK"; exit 1 }
    # The 200 goes out again after 0.5 s and then 1.5 s (RFC 3261 timer G from T1 = 500 ms),
    # so copies before an ACK that comes later spread over at least 0.9 s.
    if (last - first < 0.9) { print "retransmissions spread over " last - first " s only"; exit 1 }
  }' "$work/retransmit.txt" || fail "200 retransmission on the wire: $(tr '\n' ' ' <"$work/retransmit.txt")"
echo "ok: 200 retransmitted until the ACK ($(grep -c . "$work/retransmit.txt") packets)"

# The access log: default format to a file, every directive through a pipe.
sleep 0.5
grep -Eq '^127\.0\.0\.1 - \[[0-9]{2}/[A-Z][a-z]{2}/20[0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}\] "INVITE sip:1234@gw SIP/2\.0" 200$' "$work/access.log" \
  || fail "default access-log line for the 200: $(cat "$work/access.log")"
grep -Eq '"INVITE sip:1234@gw SIP/3\.0" 420$' "$work/access.log" || fail "access-log line for the 420"
grep -Eq '"OPTIONS sips:1234@gw SIP/2\.0" 400$' "$work/access.log" || fail "access-log line for the 400"
grep -Eq $'^sipp,tester\\|1 INVITE\\|200\\|sip:1234@gw\\|127\\.0\\.0\\.1\\|1\\|[0-9]{2}:[0-9]{2}\\|[0-9]+\\.[0-9]{2}\\|\t\\.$' "$work/pipe.log" \
  || fail "piped access-log line: $(cat "$work/pipe.log")"
echo "ok: access log"

# A receive interrupted by a signal is reported and the listener goes on.
kill -USR2 "$harness_pid"
sleep 0.3
expect_log '^.*Error in ReceiveUDP: Interrupted system call \(4\): recvfrom$' "interrupted receive reported"
sipp_run no_call 1234 -p 5084

# Every record of every transaction is released once nothing needs it.
sleep 0.5
[ "$(records)" = "$baseline" ] || fail "records left at the end: $(records), expected $baseline"

if [ "$failures" -ne 0 ]; then
  echo "--- harness output (tail)"
  tail -n 80 "$work/harness.out"
  exit 1
fi
kill "$harness_pid"
for _ in $(seq 30); do
  kill -0 "$harness_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$harness_pid" 2>/dev/null; then
  fail "harness did not stop"
  kill -9 "$harness_pid"
fi
wait "$harness_pid" 2>/dev/null
harness_pid=
expect_log '^HARNESS stopped$' "listener ends when its socket is shut down"
[ "$failures" -eq 0 ] || exit 1
echo "all user-agent server scenarios passed"
