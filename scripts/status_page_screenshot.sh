#!/usr/bin/env bash
# Takes a screenshot of the gateway's status page with headless Chromium during a call, after an
# answered and a refused one, in private namespaces: SIPp calls the simulated line over the
# loopback. Usage: status_page_screenshot.sh [BUILD] [OUT.png] (default docs/status_page.png);
# the `sipline status` output of the same moment is printed.
set -uo pipefail
build=$(realpath "${1:-build}")
source=$(realpath "$(dirname "$0")/..")
out=$(realpath -m "${2:-$source/docs/status_page.png}")
export SIPLINE_BUILD=$build SIPLINE_SOURCE=$source
# shellcheck source=netns.sh
. "$source/scripts/netns.sh"
netns_enter "$0" "$@"
work=$(mktemp -d /tmp/sipline-screenshot-XXXXXX)
scenarios=$source/gateway/tests/sipp
gateway=
cleanup() {
    if [ -n "$gateway" ] && kill -0 "$gateway" 2>/dev/null; then kill -TERM "$gateway"; fi
    jobs -p | xargs -r kill 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$work/"
hostname gw
printf '127.0.0.1 gw localhost\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts
sox -n -r 8000 -c 1 -e u-law "$work/stream.wav" synth 60 sine 800 vol 0.5

cat > "$work/sipline.toml" <<TOML
[security]
dial_deny = ["09.*"]
[metrics]
listen = "127.0.0.1:9460"
[service]
socket = "$work/status.sock"
TOML
(cd "$work" && exec "$build/bin/sipline" --config "$work/sipline.toml" > "$work/out" 2> "$work/err") &
gateway=$!
# wait_up TEXT [N]: until sipline has printed TEXT N times (default 1).
wait_up() {
    for _ in $(seq 100); do
        [ "$(grep -c "$1" "$work/out" 2>/dev/null)" -ge "${2:-1}" ] && return 0
        sleep 0.1
    done
    echo "sipline did not get to \"$1\"" >&2
    exit 1
}
sipp_call() {
    local scenario=$1 number=$2
    shift 2
    (cd "$work" && exec timeout 60 sipp -sf "$scenarios/$scenario.xml" -s "$number" 127.0.0.1:5060 \
        -m 1 -l 1 -nostdin -timeout 40 "$@" > /dev/null 2>&1)
}
wait_up "Creating OutTh"
sipp_call rtp_call 5551234 -d 3000 -p 5071
wait_up "Globals inited"
sipp_call forbidden 0900123 -p 5072
sipp_call rtp_call 5550199 -d 15000 -p 5073 &
wait_up "Exiting ST_TXDIAL" 2
sleep 4
"$build/bin/sipline" status --socket "$work/status.sock"
mkdir -p "$(dirname "$out")"
# Root runs Chromium only without its sandbox; the page is the gateway's own, on the loopback.
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,640 \
    --screenshot="$work/page.png" http://127.0.0.1:9460/ > "$work/chromium.log" 2>&1
[ -s "$work/page.png" ] || { echo "no screenshot: $(tail -n 5 "$work/chromium.log")" >&2; exit 1; }
cp "$work/page.png" "$out"
echo "status page: $out"
