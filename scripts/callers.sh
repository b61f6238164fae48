# Sourced by scripts that call the gateway with real softphones from the callers' namespace of
# scripts/netns.sh. Needs $work (a scratch folder), $gateway_address and $caller_address set,
# and netns_caller_start run; gateway_start also needs $build and $source_dir.
#
# baresip_start NAME MIC.wav PORT [CODECS [USER PASSWORD]]
#                                  baresip as NAME, saying MIC.wav (8 kHz mono), SIP on PORT,
#                                  offering CODECS (default GSM,PCMU), answering a digest
#                                  challenge as USER with PASSWORD when given; what it sends
#                                  and hears is dumped under $work/NAME
# baresip_do NAME COMMAND [PARAMS] a ctrl_tcp command ("dial", "hangup", ...)
# baresip_wait NAME EVENT [SECONDS] waits for a ctrl_tcp event type (CALL_ESTABLISHED, ...)
# baresip_heard NAME               the WAV file of what baresip received
# linphonec_start NAME MIC.wav PORT [USER PASSWORD [REALM]]
#                                  linphonec as NAME, answering a digest challenge of REALM
#                                  (default sipline) as USER with PASSWORD when given
# linphonec_do NAME COMMAND...     a linphonec console command ("call sip:...", "terminate")
# linphonec_wait NAME TEXT [SECONDS] waits for a fixed text in linphonec's console output
# callers_stop                     ends every caller started here
# tone_frequency FILE.wav [START [LENGTH]]  the frequency (Hz) of a tone in a WAV file's stretch

# Checks of a test that calls through these callers; each failure counts in $failures:
# fail TEXT                        prints "FAIL: TEXT" and counts it
# within VALUE LOW HIGH            true when LOW <= VALUE <= HIGH
# check_tone WHAT FILE START HZ    the stretch of FILE from sample START (plus half a second) is
#                                  HZ +- 5%; prints "ok: ..." or fails
failures=${failures:-0}
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
within() {
    awk -v v="${1:-0}" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'
}
check_tone() {
    local what=$1 file=$2 start=$3 hz=$4 got
    got=$(tone_frequency "$file" "$((start + 4000))s")
    if within "$got" "$((hz * 95 / 100))" "$((hz * 105 / 100))"; then
        echo "ok: $what: $got Hz"
    else
        fail "$what: ${got:-no sound} Hz, not $hz"
    fi
}

callers_pids=()
callers_fds=()

baresip_start() {
    local name=$1 mic=$2 port=$3 codecs=${4:-GSM,PCMU} dir=$work/$1
    local control=$((port + 1000)) auth=
    [ -n "${5:-}" ] && auth=";auth_user=$5;auth_pass=${6:-}"
    mkdir -p "$dir"
    cat >"$dir/config" <<CONFIG
poll_method		epoll
sip_listen		$caller_address:$port
audio_player		aufile,$dir/played.wav
audio_source		aufile,$mic
audio_alert		aufile,$dir/alert.wav
audio_srate		8000
audio_channels		1
module_path		/usr/lib/baresip/modules
module			g711.so
module			gsm.so
module			aufile.so
module			sndfile.so
module			ctrl_tcp.so
module_app		account.so
module_app		menu.so
ctrl_tcp_listen		127.0.0.1:$control
snd_path		$dir
CONFIG
    echo "<sip:$name@$caller_address:$port>$auth;regint=0;audio_codecs=$codecs" >"$dir/accounts"
    echo "$control" >"$dir/control.port"
    "${netns_caller[@]}" baresip -f "$dir" >"$dir/console.out" 2>&1 &
    callers_pids+=($!)
    for _ in $(seq 50); do
        grep -q "baresip is ready" "$dir/console.out" 2>/dev/null && break
        sleep 0.1
    done
    : >"$dir/events"
    # One connection for the life of the caller: commands in through a FIFO that this shell
    # keeps open, events out.
    mkfifo "$dir/commands"
    exec {fd}<>"$dir/commands"
    callers_fds+=($fd)
    "${netns_caller[@]}" socat - "TCP:127.0.0.1:$control" <"$dir/commands" >>"$dir/events" \
        2>>"$dir/console.out" &
    callers_pids+=($!)
    sleep 0.3
}

baresip_do() {
    local dir=$work/$1 json
    json="{\"command\":\"$2\",\"params\":\"${3:-}\",\"token\":\"$2\"}"
    printf '%d:%s,' "${#json}" "$json" >>"$dir/commands"
}

baresip_wait() {
    local dir=$work/$1 event=$2 seconds=${3:-10}
    for _ in $(seq $((seconds * 10))); do
        grep -q "\"type\":\"$event\"" "$dir/events" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

baresip_heard() {
    ls -t "$work/$1"/dump-*-dec.wav 2>/dev/null | head -n 1
}

linphonec_start() {
    local name=$1 mic=$2 port=$3 dir=$work/$1
    mkdir -p "$dir/home/.local/share/linphone"
    cat >"$dir/home/.linphonerc" <<CONFIG
[sip]
sip_port=$port
contact="$name" <sip:$name@$caller_address>
[rtp]
audio_rtp_port=$((port + 2000))
[sound]
echocancellation=0
[audio_codec_0]
mime=GSM
rate=8000
channels=1
enable=1
[audio_codec_1]
mime=PCMU
rate=8000
channels=1
enable=1
CONFIG
    # The identity's user finds the entry; userid is the name that the credentials carry.
    [ -n "${4:-}" ] && cat >>"$dir/home/.linphonerc" <<CONFIG
[auth_info_0]
username=$name
userid=$4
passwd=${5:-}
realm=${6:-sipline}
CONFIG
    mkfifo "$dir/commands"
    exec {fd}<>"$dir/commands"
    callers_fds+=($fd)
    "${netns_caller[@]}" env HOME="$dir/home" linphonec -c "$dir/home/.linphonerc" <"$dir/commands" \
        >>"$dir/console.out" 2>&1 &
    callers_pids+=($!)
    sleep 1
    linphonec_do "$name" "soundcard use files"
    linphonec_do "$name" "play $mic"
    linphonec_do "$name" "record $dir/heard.wav"
}

linphonec_do() {
    local name=$1
    shift
    echo "$*" >>"$work/$name/commands"
}

linphonec_wait() {
    local dir=$work/$1 text=$2 seconds=${3:-10}
    for _ in $(seq $((seconds * 10))); do
        grep -qF -- "$text" "$dir/console.out" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

callers_stop() {
    local pid fd
    for pid in "${callers_pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${callers_pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    for fd in "${callers_fds[@]}"; do
        exec {fd}>&-
    done
    callers_pids=()
    callers_fds=()
}

# sox's rough frequency is rate/pi * sin(pi f/rate) for a sine of f Hz (RMS of the differences
# over RMS of the samples): 5% low at 1400 Hz, so it is turned back into f.
tone_frequency() {
    local file=$1 start=${2:-0} length=${3:-} rate
    rate=$(soxi -r "$file") || return 1
    sox "$file" -n trim "$start" $length stat 2>&1 | awk -v rate="$rate" '
        /Rough +frequency/ {
            s = $3 * 3.14159265 / rate
            if (s > 1) s = 1
            printf "%d\n", rate / 3.14159265 * atan2(s, sqrt(1 - s * s)) + 0.5
        }'
}

# The real gateway for these callers, in this (the gateway's) namespace:
# gateway_start DIR [VAR=VALUE...]  build/bin/sipline (from $build) in DIR with the simulated
#                                  board and the prompts, the VAR=VALUE settings (BOARDSIM_SAY,
#                                  BOARDSIM_CAPTURE...) in its environment, and --config
#                                  $gateway_config when that is set; output in DIR/out
#                                  and DIR/err, the line's control socket DIR/boardsim.sock
# gateway_stop                     SIGTERM, then waits (KILL after 5 s); 1 if it did not end cleanly
# line_do COMMAND                  a control socket command (ring, hangup, status, ...)
# line_status KEY                  one value of the line's status (hook, line, dialled, ...)
# line_wait KEY VALUE [SECONDS]    waits until the line's status shows KEY=VALUE
# wav_samples FILE.wav             the number of samples in a WAV file (0 when there is none)

gateway_pid=
gateway_dir=
gateway_config=

gateway_start() {
    gateway_dir=$1
    shift
    mkdir -p "$gateway_dir"
    cp "$source_dir/gateway/prompts/enter.vox" "$source_dir/gateway/prompts/notfound.vox" "$gateway_dir/"
    : >"$gateway_dir/out"
    local options=()
    [ -n "$gateway_config" ] && options=(--config "$gateway_config")
    (cd "$gateway_dir" && exec env "$@" "$build/bin/sipline" "${options[@]}" >"$gateway_dir/out" \
        2>"$gateway_dir/err") &
    gateway_pid=$!
    for _ in $(seq 100); do
        grep -qF "Creating OutTh" "$gateway_dir/out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "sipline did not start: $(tail -n 5 "$gateway_dir/err")" >&2
    return 1
}

gateway_stop() {
    local status=0
    [ -n "$gateway_pid" ] || return 0
    kill -TERM "$gateway_pid" 2>/dev/null
    for _ in $(seq 50); do
        kill -0 "$gateway_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$gateway_pid" 2>/dev/null; then
        kill -KILL "$gateway_pid" 2>/dev/null
        status=1
    fi
    wait "$gateway_pid" 2>/dev/null || status=1
    gateway_pid=
    return $status
}

line_do() {
    printf '%s\n' "$1" | socat -t 2 - "UNIX-CONNECT:$gateway_dir/boardsim.sock"
}

line_status() {
    line_do status | tr ' ' '\n' | sed -n "s/^$1=//p"
}

line_wait() {
    local key=$1 value=$2 seconds=${3:-10}
    for _ in $(seq $((seconds * 10))); do
        [ "$(line_status "$key")" = "$value" ] && return 0
        sleep 0.1
    done
    return 1
}

wav_samples() {
    [ -s "$1" ] && soxi -s "$1" 2>/dev/null || echo 0
}
