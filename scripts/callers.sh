# Sourced by scripts that call the gateway with real softphones from the callers' namespace of
# scripts/netns.sh. Needs $work (a scratch folder), $gateway_address and $caller_address set,
# and netns_caller_start run.
#
# baresip_start NAME MIC.wav PORT  baresip as NAME, saying MIC.wav (8 kHz mono), SIP on PORT;
#                                  what it sends and hears is dumped under $work/NAME
# baresip_do NAME COMMAND [PARAMS] a ctrl_tcp command ("dial", "hangup", ...)
# baresip_wait NAME EVENT [SECONDS] waits for a ctrl_tcp event type (CALL_ESTABLISHED, ...)
# baresip_heard NAME               the WAV file of what baresip received
# linphonec_start NAME MIC.wav PORT
# linphonec_do NAME COMMAND...     a linphonec console command ("call sip:...", "terminate")
# linphonec_wait NAME TEXT [SECONDS] waits for a fixed text in linphonec's console output
# callers_stop                     ends every caller started here
# tone_frequency FILE.wav [START [LENGTH]]  the rough frequency (Hz) of a WAV file's stretch

callers_pids=()
callers_fds=()

baresip_start() {
    local name=$1 mic=$2 port=$3 dir=$work/$1
    local control=$((port + 1000))
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
    echo "<sip:$name@$caller_address:$port>;regint=0;audio_codecs=GSM,PCMU" >"$dir/accounts"
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

tone_frequency() {
    local file=$1 start=${2:-0} length=${3:-}
    sox "$file" -n trim "$start" $length stat 2>&1 | awk '/Rough +frequency/ { print $3 }'
}
