# Sourced by the tests and demos that hear the gateway's GSM RTP through GStreamer.
#
# gsm_listen PORT RAW SECONDS   GStreamer decodes the GSM RTP that reaches UDP PORT into RAW
#                               (8 kHz mono signed 16-bit, no header), in the background for at
#                               most SECONDS; $gsm_listener is its process
# gsm_listen_stop RAW WAV       stops it and writes what it decoded to WAV
#
# The file is raw and written unbuffered because an interrupt cannot be trusted to end the
# stream: gst-launch's EOS on SIGINT sometimes never leaves a udpsrc that waits on a quiet
# socket, and the process then dies at its time-out with a WAV header never finished. Stopping
# it with SIGTERM instead loses nothing that reached the file.
gsm_listener=

gsm_listen() {
    : > "$2"
    timeout "$3" gst-launch-1.0 -q udpsrc port="$1" \
        caps="application/x-rtp,media=audio,clock-rate=8000,encoding-name=GSM,payload=3" ! \
        rtpgsmdepay ! gsmdec ! audioconvert ! audio/x-raw,format=S16LE,channels=1 ! \
        filesink buffer-mode=unbuffered location="$2" > /dev/null 2>&1 &
    gsm_listener=$!
}

gsm_listen_stop() {
    if [ -n "$gsm_listener" ]; then
        kill -TERM "$gsm_listener" 2> /dev/null || true
        wait "$gsm_listener" 2> /dev/null || true
        gsm_listener=
    fi
    sox -t raw -r 8000 -e signed -b 16 -c 1 "$1" "$2" 2> /dev/null || : > "$2"
}
