# Sourced by the whole-call tests: counting failures and reading the simulated line. The caller
# sets $work, the folder holding the board's control socket.
#
# fail TEXT                        counts a failure and says why
# wait_for FILE TEXT [N] [SECONDS] up to SECONDS (default 10) for TEXT to appear N times
#                                  (default 1) in FILE; fail otherwise
# control COMMAND                  one line to the board's control socket, its answer on stdout
# status_is KEY VALUE WHAT         the line's status shows KEY=VALUE; fail otherwise
# wait_udp PORT [SECONDS]          up to SECONDS (default 10) for a UDP socket bound to PORT;
#                                  a peer started in the background is not ready before that
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

wait_for() {
    local file=$1 text=$2 times=${3:-1} seconds=${4:-10}
    for _ in $(seq $((seconds * 10))); do
        [ "$(grep -acF -- "$text" "$file" 2>/dev/null)" -ge "$times" ] && return 0
        sleep 0.1
    done
    fail "\"$text\" did not appear $times time(s) in $(basename "$file")"
    return 1
}

control() {
    printf '%s\n' "$1" | socat -t 2 - "UNIX-CONNECT:$work/boardsim.sock"
}

status_is() {
    local key=$1 wanted=$2 got
    got=$(control status | tr ' ' '\n' | sed -n "s/^$key=//p")
    [ "$got" = "$wanted" ] || fail "$3: $key=$got, not $wanted"
}

wait_udp() {
    local port=$1 seconds=${2:-10}
    for _ in $(seq $((seconds * 10))); do
        [ -n "$(ss -Hlun "sport = :$port" 2>/dev/null)" ] && return 0
        sleep 0.1
    done
    fail "nothing listened on UDP port $port within $seconds s"
    return 1
}
