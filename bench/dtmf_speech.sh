#!/usr/bin/env bash
# Makes the talk-off speech for dtmf_bench in folder $1: over twenty minutes of varied sentences
# read by several espeak-ng voices (men, women, high and low pitch, slow and fast), and the
# demo's two sentences; 16-bit mono WAV at 8 kHz, each normalised to -3 dBFS peak (loud speech
# is the harder case). Made at run time, never committed. Needs espeak-ng and sox.
set -euo pipefail
out=${1:?usage: dtmf_speech.sh FOLDER}
mkdir -p "$out"
command -v espeak-ng >/dev/null && command -v sox >/dev/null || {
    echo "dtmf_speech.sh: espeak-ng and sox are needed" >&2
    exit 1
}

text="$out/sentences.txt"
cat >"$text" <<'TEXT'
Good morning, you have reached the front desk; how may I help you today?
Please hold the line while I transfer your call to the accounts department.
The quick brown fox jumps over the lazy dog, and then it runs away into the woods.
I'm calling about the invoice we received last Tuesday; the total seems to be wrong.
Could you spell your surname for me? Was that M, A, C, or M, A, C, K?
She sells sea shells by the sea shore, and the shells she sells are surely sea shells.
Eight, nine, ten, eleven, twelve; four thousand seven hundred and sixty three.
Hello? Hello? Can you hear me now? The line keeps breaking up.
We will be closed on Monday for the holiday, but our lines reopen at nine on Tuesday.
Oh, really? That's wonderful news! I'm so happy for both of you.
Yes, yes, I know. Mmm. Right. Okay. Uh-huh. Sure, no problem at all.
The weather today is cloudy with a chance of rain in the late afternoon.
Whistling wind, squeaking wheels and ringing bells filled the empty street.
Please repeat the number slowly: zero one six three, double five, seven two.
Ahhh, eeeee, ooooh, iiiii: the singer held each vowel for a long, long time.
If you are not satisfied with our service, you may ask for the manager.
I would like to book a table for four people on Friday evening at half past seven.
Thank you for calling. Your call is important to us. Please stay on the line.
My grandmother used to sing that song when we were children in the village.
The meeting has been moved to the third floor, room three hundred and twelve.
Is anybody there? I think we have a very bad connection; let me call you back.
Bright yellow birds sang sweetly in the tall green trees beside the river.
Press the button, wait for the tone, and then speak clearly after the beep.
He said: never, ever, ever leave the garden gate open when the dog is out.
Sixty-six, seventy-seven, eighty-eight, ninety-nine, one hundred and one.
TEXT

# voice, words a minute, pitch (0-99)
voices=(
    "en-us 160 50" "en-gb 150 40" "en-us+f3 150 70" "en+f5 170 85" "en-us+m3 130 25"
    "en-gb-scotland 150 50" "en+m7 180 35" "en-029+f2 140 60" "en-us+f4 120 95"
    "en-gb-x-rp+m1 200 10"
)
n=0
for v in "${voices[@]}"; do
    read -r voice speed pitch <<<"$v"
    n=$((n + 1))
    espeak-ng -v "$voice" -s "$speed" -p "$pitch" -f "$text" -w "$out/raw.wav"
    sox "$out/raw.wav" -r 8000 -c 1 -b 16 "$out/speech_$n.wav" norm -3
done
espeak-ng -s 150 -w "$out/raw.wav" "Hello, this is the caller on the SIP network. Can you hear me?"
sox "$out/raw.wav" -r 8000 -c 1 -b 16 "$out/demo_caller.wav" norm -3
espeak-ng -s 150 -w "$out/raw.wav" "This is the telephone line answering. I hear you well."
sox "$out/raw.wav" -r 8000 -c 1 -b 16 "$out/demo_far_party.wav" norm -3
rm -f "$out/raw.wav" "$text"
