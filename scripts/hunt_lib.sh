# Sourced, inside a private network namespace (scripts/netns.sh netns_enter), by the scripts
# that bring up a hunt group: Kamailio on the bridge address 10.77.0.1, gateway I (1..N) in node
# I at 10.77.0.1I (the ports are fixed: 5060 and 10000 in every node). Every gateway calls
# itself "lines", so a caller's "sip:NUMBER@lines" passes each gateway's host check unchanged.
#
# hunt_up N WORK BUILD SOURCE  starts them; gateway I runs in WORK/gwI (its line's control
#                              socket WORK/gwI/boardsim.sock, what its line's party hears
#                              WORK/gwI/heard.wav, its output WORK/gwI/out), Kamailio logs to
#                              WORK/kamailio.log.
#                              With HUNT_REGISTER=1 every gateway registers to Kamailio under
#                              the one AOR "line" (deploy/kamailio/hunt_registrar.cfg, its
#                              WORK/gwI/sipline.toml) instead of being listed for dispatcher.
# hunt_gateway_stop I / hunt_gateway_start I
#                              stops or restarts gateway I's process (its node stays).
# hunt_down                    stops everything hunt_up started.
# hunt_heard_hz I [SECONDS]    the frequency (Hz) of the tone in the last SECONDS (default 1.5)
#                              of what line I's party heard, by the media tests' zero-crossing
#                              measure (BUILD/tests/media_harness).

HUNT_PROXY=10.77.0.1
HUNT_HOST=lines
declare -A hunt_gateway_pid=()
hunt_proxy_pid=
hunt_work=
hunt_build=

# hunt_control I COMMAND: COMMAND to line I's simulated board; its answer on standard output.
hunt_control() {
    printf '%s\n' "$2" | socat -t 2 - "UNIX-CONNECT:$hunt_work/gw$1/boardsim.sock"
}
# hunt_status I KEY: the value of KEY in line I's status.
hunt_status() {
    hunt_control "$1" status | tr ' ' '\n' | sed -n "s/^$2=//p"
}
hunt_gateway_address() {
    printf '10.77.0.1%d' "$1"
}

hunt_gateway_start() {
    local i=$1 dir=$hunt_work/gw$1 config=()
    : >"$dir/out"
    [ -f "$dir/sipline.toml" ] && config=(--config "$dir/sipline.toml")
    # nsenter itself, not the in_node function: $! must be the gateway's own process.
    nsenter --target "${netns_node_pid[$i]}" --net --uts --mount -- \
        bash -c 'cd "$1" && export BOARDSIM_CAPTURE="$1/heard.wav" && exec "${@:2}"' _ "$dir" \
        "$hunt_build/bin/sipline" "${config[@]}" \
        >>"$dir/out" 2>>"$dir/err" &
    hunt_gateway_pid[$i]=$!
    for _ in $(seq 100); do
        grep -qF "Creating OutTh" "$dir/out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "hunt: gateway $i did not start: $(tail -n 5 "$dir/err")" >&2
    return 1
}

hunt_heard_hz() {
    local clip=$hunt_work/gw$1/clip.wav
    sox "$hunt_work/gw$1/heard.wav" -b 16 -e signed-integer "$clip" trim "-${2:-1.5}" 2>/dev/null &&
        "$hunt_build/tests/media_harness" --measure "$clip" |
        sed -n 's/^decoded hz=\([0-9.]*\).*/\1/p'
    rm -f "$clip"
}

hunt_gateway_stop() {
    local pid=${hunt_gateway_pid[$1]:-}
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    unset "hunt_gateway_pid[$1]"
}

hunt_up() {
    local n=$1 source=$4 i list
    hunt_work=$2
    hunt_build=$3
    netns_bridge_start "$HUNT_PROXY"
    list=$hunt_work/dispatcher.list
    : >"$list"
    for i in $(seq "$n"); do
        mkdir -p "$hunt_work/gw$i"
        cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" \
            "$hunt_work/gw$i/"
        netns_node_start "$i" "$(hunt_gateway_address "$i")" "$HUNT_HOST" "$hunt_work/gw$i/hosts"
        # Highest priority first: gateway 1 takes a call when it is free.
        printf '1 sip:%s:5060 0 %d\n' "$(hunt_gateway_address "$i")" $((100 - i)) >>"$list"
        if [ "${HUNT_REGISTER:-0}" = 1 ]; then
            printf '[registration]\nregistrar = "sip:%s"\nuser = "line"\npassword = "line-secret"\n' \
                "$HUNT_PROXY" >"$hunt_work/gw$i/sipline.toml"
        fi
        hunt_gateway_start "$i" || return 1
    done
    mkdir -p "$hunt_work/kamailio"
    local config=(-f "$source/deploy/kamailio/hunt.cfg" -A "HUNT_LIST=\"$list\"")
    [ "${HUNT_REGISTER:-0}" = 1 ] && config=(-f "$source/deploy/kamailio/hunt_registrar.cfg")
    kamailio -DD -E "${config[@]}" -Y "$hunt_work/kamailio" -A "HUNT_LISTEN=udp:$HUNT_PROXY:5060" \
        >"$hunt_work/kamailio.log" 2>&1 &
    hunt_proxy_pid=$!
    for _ in $(seq 100); do
        ss -lun 2>/dev/null | grep -qF "$HUNT_PROXY:5060" && return 0
        sleep 0.1
    done
    echo "hunt: kamailio did not start: $(tail -n 5 "$hunt_work/kamailio.log")" >&2
    return 1
}

hunt_down() {
    local i
    if [ -n "$hunt_proxy_pid" ]; then
        kill -TERM "$hunt_proxy_pid" 2>/dev/null
        wait "$hunt_proxy_pid" 2>/dev/null
        hunt_proxy_pid=
    fi
    for i in "${!hunt_gateway_pid[@]}"; do
        hunt_gateway_stop "$i"
    done
    netns_nodes_cleanup
}
