# Sourced by the gateway's robustness tests: one sipline with the simulated board inside private
# network, host-name and mount namespaces (scripts/netns.sh), SIPp callers, the board's control
# socket as the line, and tshark on the gateway's outgoing RTP.
#
# e2e_start [ENV=VALUE...]   enters the namespaces (re-executing the script), makes $work, starts
#                            the gateway ($gateway, output in $work/out and $work/err)
# (fail, wait_for, control and status_is come from checks_lib.sh)
# sipp_run NAME NUMBER ...   runs gateway/tests/sipp/NAME.xml once; fail unless it succeeds
# sipp_start NAME NUMBER ... the same in the background ($caller); sipp_wait WHAT waits for it
# idle CYCLES WHAT           CYCLES cycles ended, the line on-hook, OPTIONS answered 501
# capture_start PORT / capture_stop
#                            tshark on loopback for the gateway's RTP to the caller's PORT
# capture_gaps               "PACKETS SECONDS LARGEST_GAP_MS" of the captured stream
# figures WHAT              one line for the benches: the gateway's RSS, threads, descriptors
#                            and CPU seconds so far
# e2e_finish NAME            prints the outputs on failure; exit status
set -uo pipefail
build=$(realpath "${SIPLINE_BUILD:-build}")
source=$(realpath "${SIPLINE_SOURCE:-.}")
# shellcheck source=../../scripts/netns.sh
. "$source/scripts/netns.sh"
scenarios=$source/gateway/tests/sipp
# shellcheck source=checks_lib.sh
. "$source/gateway/tests/checks_lib.sh"
gateway=
capture=

e2e_cleanup() {
    sipp_stop
    if [ -n "$capture" ]; then kill "$capture" 2>/dev/null; fi
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -KILL "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    if [ -n "${SIPLINE_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi
}

# The sanitizer builds run slower; their limits on timing are wider.
sanitized() {
    grep -qE '^SIPLINE_SANITIZE:[A-Z]+=.+' "$build/CMakeCache.txt" 2>/dev/null
}

e2e_start() {
    netns_enter "$0"
    work=$(mktemp -d /tmp/sipline-robust-XXXXXX)
    trap e2e_cleanup EXIT
    cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
    netns_use_host gw 127.0.0.1 "$work/hosts"
    gateway_start "$@"
}

gateway_start() {
    : > "$work/out"
    : > "$work/err"
    (cd "$work" && exec env "$@" "$build/bin/sipline" > "$work/out" 2> "$work/err") &
    gateway=$!
    wait_for "$work/out" "Creating OutTh"
}

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

caller=
# The longest a background caller may run (seconds).
sipp_limit=60
sipp_start() {
    local name=$1 number=$2
    shift 2
    timeout "$sipp_limit" sipp -sf "$scenarios/$name.xml" -s "$number" 127.0.0.1:5060 -m 1 -l 1 \
        -nostdin -timeout 40 -timeout_error -trace_err -error_file "$work/$name.err" "$@" \
        > "$work/$name.out" 2>&1 &
    caller=$!
}

sipp_wait() {
    wait "$caller" || fail "$1: $(tail -n 20 "$work/"*.err 2>/dev/null | tail -n 20)"
    caller=
}

# Ends the caller in the background, if any (timeout hands the signal to SIPp).
sipp_stop() {
    if [ -n "$caller" ]; then
        kill "$caller" 2>/dev/null
        wait "$caller" 2>/dev/null
        caller=
    fi
}

idle() {
    wait_for "$work/out" "Globals inited" "$1"
    local hook
    hook=$(control status | tr ' ' '\n' | sed -n 's/^hook=//p')
    [ "$hook" = on ] || fail "$2: hook=$hook"
    sipp_run options 100 -p 5079 || fail "$2: the gateway is not idle"
}

capture_start() {
    : > "$work/tshark.err"
    tshark -i lo -f "udp dst port $1" -w "$work/rtp.pcap" -q 2> "$work/tshark.err" &
    capture=$!
    for _ in $(seq 100); do
        grep -q "Capturing on" "$work/tshark.err" && return 0
        sleep 0.1
    done
    fail "tshark did not start: $(cat "$work/tshark.err")"
}

capture_stop() {
    sleep 0.3
    kill -INT "$capture" 2>/dev/null
    wait "$capture" 2>/dev/null
    capture=
}

capture_gaps() {
    tshark -r "$work/rtp.pcap" -T fields -e frame.time_epoch 2>/dev/null | awk '
        NR == 1 { first = $1 }
        NR > 1 && ($1 - last) * 1000 > gap { gap = ($1 - last) * 1000 }
        { last = $1 }
        END { printf "%d %.1f %.0f\n", NR, last - first, gap }'
}

# The reports of the sanitizer builds (UBSan's "runtime error", ASan's and TSan's headers).
sanitizer_clean() {
    if grep -aqE "runtime error:|(Address|Thread|Leak|UndefinedBehavior)Sanitizer" "$1"; then
        fail "sanitizer report: $(grep -aE -m 3 "runtime error:|Sanitizer" "$1")"
    fi
}

figures() {
    # User and system time are fields 14 and 15 of /proc/PID/stat, in clock ticks.
    printf '%s: RSS %d kB, threads %d, descriptors %d, CPU %.1f s\n' "$1" \
        "$(awk '/^VmRSS:/ {print $2}' "/proc/$gateway/status")" \
        "$(awk '/^Threads:/ {print $2}' "/proc/$gateway/status")" \
        "$(ls "/proc/$gateway/fd" | wc -l)" \
        "$(awk -v hz="$(getconf CLK_TCK)" '{sub(/^.*\) /, ""); print ($12 + $13) / hz}' \
            "/proc/$gateway/stat")"
}

e2e_finish() {
    kill -0 "$gateway" 2>/dev/null || fail "sipline is not running any more"
    grep -q "did not end" "$work/err" && fail "an audio thread was left running"
    kill -TERM "$gateway"
    wait "$gateway" || fail "sipline did not end cleanly"
    gateway=
    sanitizer_clean "$work/err"
    if [ "$failures" -ne 0 ]; then
        echo "--- stdout (end)"; tail -n 150 "$work/out"
        echo "--- stderr (end)"; tail -n 60 "$work/err"
        exit 1
    fi
    echo "$1: all passed"
}
