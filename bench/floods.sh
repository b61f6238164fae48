#!/usr/bin/env bash
# SIP floods against the whole gateway (sipline with the simulated board, in private
# namespaces): OPTIONS while idle (answered 501), then during one connected call with RTP both
# ways, INVITEs of other calls (each refused 503) and OPTIONS of other calls (unanswered). For
# each answered flood the rate is raised over FLOOD_RATES (FLOOD_STEP seconds each) until one
# answer is lost; the highest clean rate then runs FLOOD_SECONDS. Reports answers, peak RSS
# and threads of the gateway, and the call's outgoing RTP: packets a second and largest gap.
# Usage: bench/floods.sh [build folder]   (FLOOD_SECONDS=60 FLOOD_STEP=10 FLOOD_RATES="...")
# The namespaces run this script again without its arguments; the folder comes back in the
# environment.
export SIPLINE_BUILD=$(realpath "${1:-${SIPLINE_BUILD:-build}}")
export SIPLINE_SOURCE=$(realpath "$(dirname "$0")/..")
. "$SIPLINE_SOURCE/gateway/tests/e2e_lib.sh"
e2e_start
seconds=${FLOOD_SECONDS:-60}
step=${FLOOD_STEP:-10}
read -r -a rates <<< "${FLOOD_RATES:-200 500 1000 2000 4000}"

# flood SCENARIO RATE SECONDS: prints "ANSWERED LOST"; keeps the peaks of the gateway.
flood() {
    local scenario=$1 rate=$2 time=$3 calls load t r
    calls=$((rate * time))
    timeout $((time * 3 + 60)) sipp -sf "$scenario" -s 100 127.0.0.1:5060 -r "$rate" \
        -m "$calls" -l $((rate * 4)) -nostdin -p 5090 -timeout $((time * 3 + 30)) \
        -trace_screen -screen_file "$work/screen" > "$work/sipp.$rate.log" 2>&1 &
    load=$!
    while kill -0 "$load" 2>/dev/null; do
        r=$(awk '/^VmRSS:/ {print $2}' "/proc/$gateway/status" 2>/dev/null)
        t=$(awk '/^Threads:/ {print $2}' "/proc/$gateway/status" 2>/dev/null)
        echo "${r:-0} ${t:-0}" >> "$work/samples"
        sleep 0.2
    done
    wait "$load"
    awk -F'|' '/Successful call/ {gsub(/ /, "", $3); ok = $3}
               /Failed call/ {gsub(/ /, "", $3); bad = $3}
               END {print ok + 0, bad + 0}' "$work/screen"
}

# search SCENARIO WHAT: the highest rate of FLOOD_RATES without loss, then the long run at it.
search() {
    local best=0 rate ok lost
    for rate in "${rates[@]}"; do
        read -r ok lost < <(flood "$1" "$rate" "$step")
        echo "  $2 at $rate/s for $step s: $ok answered, $lost lost"
        [ "$lost" -eq 0 ] && [ "$ok" -eq $((rate * step)) ] || break
        best=$rate
    done
    [ "$best" -gt 0 ] || { fail "$2: answers lost at every rate"; return; }
    read -r ok lost < <(flood "$1" "$best" "$seconds")
    echo "$2: $best/s for $seconds s: $ok answered, $lost lost"
    [ "$lost" -eq 0 ] || fail "$2: $lost answers lost at $best/s"
    # SIPp cut short (its watchdog, on a starved machine) reports neither answers nor losses.
    [ "$ok" -eq $((best * seconds)) ] || fail "$2: $ok of $((best * seconds)) answered at $best/s"
    kill -0 "$gateway" 2>/dev/null || fail "sipline died under the $2 flood"
}

figures "idle at the start"
echo "== OPTIONS while idle (501)"
search "$scenarios/options.xml" "OPTIONS flood"
figures "after the OPTIONS flood"

echo "== floods during a connected call"
long=$((seconds * 2 + step * ${#rates[@]} + 30))
capture_start 4000
python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 "$((long + 5))" > "$work/peer.out" 2>&1 &
sipp_limit=$((long + 60))
sipp_start call 5550400 -p 5071 -d $((long * 1000)) -timeout $((long + 60))
wait_for "$work/out" "Exiting ST_TXDIAL"
call_started=$(date +%s)
search "$scenarios/busy.xml" "INVITE flood (503)"
figures "after the INVITE flood"
read -r ok lost < <(flood "$source/bench/options_silent.xml" "${FLOOD_SILENT_RATE:-2000}" "$seconds")
echo "unanswered OPTIONS during the call: $ok sent at ${FLOOD_SILENT_RATE:-2000}/s for $seconds s"
kill -0 "$gateway" 2>/dev/null || fail "sipline died under the unanswered OPTIONS"
figures "after the unanswered OPTIONS"
# The call's BYE ends it once its pause is over.
sipp_wait "the call during the floods"
wait_for "$work/out" "IODONE fininshed"
capture_stop
read -r packets span gap < <(capture_gaps)
echo "call's outgoing RTP: $packets packets in $span s ($(awk -v p="$packets" -v s="$span" \
    'BEGIN {printf "%.1f", p / s}') a second), largest gap $gap ms"
idle 1 "after the floods"
figures "idle at the end"
echo "gateway peaks during the floods: $(awk '$1 > r {r = $1} $2 > t {t = $2}
    END {printf "RSS %d kB, threads %d", r, t}' "$work/samples")"
e2e_finish "floods"
