#!/usr/bin/env bash
# Password guessing at full speed against a gateway that challenges every INVITE (sipline with
# the simulated board, in private namespaces), during its owner's connected call with RTP both
# ways: CRACK_ATTACKERS svcrack runs at once, each from its own address with a word list that
# lacks the password, for CRACK_SECONDS. Reports the attackers' INVITEs a second, how many the
# gateway answered and how many it dropped, the bans applied, the call's outgoing RTP (packets a
# second, largest gap), and the gateway's peak RSS and threads.
# Usage: bench/auth_crack.sh [build folder]   (CRACK_ATTACKERS=20 CRACK_SECONDS=30)
# The namespaces run this script again without its arguments; the folder comes back in the
# environment.
export SIPLINE_BUILD=$(realpath "${1:-${SIPLINE_BUILD:-build}}")
export SIPLINE_SOURCE=$(realpath "$(dirname "$0")/..")
. "$SIPLINE_SOURCE/gateway/tests/e2e_lib.sh"
attackers=${CRACK_ATTACKERS:-20}
seconds=${CRACK_SECONDS:-30}

# e2e_lib's gateway, started with a settings file that locks it down.
gateway_start() {
    cat >"$work/sipline.toml" <<'TOML'
[security]
authenticate = true
ban_after = 5
ban_seconds = 600

[[security.users]]
name = "alice"
password = "wonderland"
TOML
    : >"$work/out"
    : >"$work/err"
    (cd "$work" && exec "$build/bin/sipline" --config "$work/sipline.toml" >"$work/out" \
        2>"$work/err") &
    gateway=$!
    wait_for "$work/out" "Creating OutTh"
}
e2e_start

seq -f "guess%g" 1 200000 >"$work/words"
figures "idle at the start"
long=$((seconds + 20))
capture_start 4000
python3 "$source/gateway/tests/rtp_peer.py" 127.0.0.1 10000 4000 "$((long + 5))" >"$work/peer.out" 2>&1 &
sipp_limit=$((long + 60))
sipp_start auth_call 5550400 -p 5071 -au alice -ap wonderland -d $((long * 1000)) \
    -timeout $((long + 60))
wait_for "$work/out" "Exiting ST_TXDIAL" 1 20

echo "== $attackers svcrack runs for $seconds s during the call"
# The attackers are another machine, one address each, joined to the gateway by a veth pair.
netns_caller_start 10.66.0.1 10.66.0.11
# svcrack ignores its binding address: each run has its own port, which nftables turns into the
# run's own source address.
rules=$'table ip crack {\n chain out {\n  type nat hook postrouting priority srcnat;\n'
for i in $(seq 2 "$attackers"); do
    in_caller ip addr add "10.66.0.$((10 + i))/24" dev sipcall0
    rules+="  udp sport $((6000 + i)) snat to 10.66.0.$((10 + i))"$'\n'
done
in_caller nft -f - <<<"$rules }"$'\n}'
tshark -i sipgw0 -f "udp port 5060" \
    -w "$work/sip.pcap" -q 2>"$work/sip-tshark.err" &
sip_capture=$!
for _ in $(seq 100); do
    grep -q "Capturing on" "$work/sip-tshark.err" && break
    sleep 0.1
done
crackers=()
for i in $(seq 1 "$attackers"); do
    timeout "$seconds" "${netns_caller[@]}" svcrack -m INVITE -u alice -d "$work/words" -P $((6000 + i)) \
        -x "10.66.0.$((10 + i))" 10.66.0.1 >"$work/svcrack.$i.out" 2>&1 &
    crackers+=($!)
done
started=$(date +%s.%N)
while [ "$(awk -v s="$started" -v n="$(date +%s.%N)" 'BEGIN { print (n - s < '"$seconds"') }')" = 1 ]; do
    r=$(awk '/^VmRSS:/ {print $2}' "/proc/$gateway/status" 2>/dev/null)
    t=$(awk '/^Threads:/ {print $2}' "/proc/$gateway/status" 2>/dev/null)
    echo "${r:-0} ${t:-0}" >>"$work/samples"
    sleep 0.2
done
for pid in "${crackers[@]}"; do wait "$pid" 2>/dev/null; done
sleep 0.5
kill -INT "$sip_capture" 2>/dev/null
wait "$sip_capture" 2>/dev/null
kill -0 "$gateway" 2>/dev/null || fail "sipline died under the password guessing"
grep -qi "found" "$work"/svcrack.*.out && grep -q wonderland "$work"/svcrack.*.out &&
    fail "svcrack found the password"
figures "after the password guessing"

tshark -r "$work/sip.pcap" -T fields -E separator='|' -e ip.src -e sip.Method -e sip.Status-Code \
    2>/dev/null | awk -F'|' -v s="$seconds" '
    $1 != "10.66.0.1" && $2 != "" { requests++ }
    $1 == "10.66.0.1" && $3 != "" { answers++ }
    END {
        printf "attackers: %d requests (%.0f a second); gateway answered %d (%.0f a second), dropped %d\n",
            requests, requests / s, answers, answers / s, requests - answers
    }'
echo "bans applied: $(grep -c "security banned" "$work/err") of $attackers addresses," \
    "refusals logged: $(grep -c "security refused" "$work/err")"

sipp_wait "the owner's call during the guessing"
wait_for "$work/out" "IODONE fininshed" 1 20
capture_stop
read -r packets span gap < <(capture_gaps)
echo "call's outgoing RTP: $packets packets in $span s ($(awk -v p="$packets" -v s="$span" \
    'BEGIN {printf "%.1f", p / s}') a second), largest gap $gap ms"
echo "gateway peaks during the guessing: $(awk '$1 > r {r = $1} $2 > t {t = $2}
    END {printf "RSS %d kB, threads %d", r, t}' "$work/samples")"
netns_cleanup
e2e_finish "auth_crack"
