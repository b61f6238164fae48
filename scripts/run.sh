#!/usr/bin/env bash
# Runs sipline with the simulated voice board in a working folder that holds its prompts, and
# says how to drive the line. Ctrl-C ends it cleanly.
# Usage: run.sh [BUILD [SETTINGS.toml]]   (make run CONFIG=FILE); the file is checked first.
set -euo pipefail
build=$(realpath "${1:-build}")
config=${2:-${SIPLINE_CONFIG:-}}
source=$(realpath "$(dirname "$0")/..")
settings=()
if [ -n "$config" ]; then
    config=$(realpath "$config")
    "$build/bin/sipline" --check-config "$config" > /dev/null || exit 2
    settings=(--config "$config")
fi
dir=${SIPLINE_RUN_DIR:-$build/run}
mkdir -p "$dir"
cp "$source/gateway/prompts/enter.vox" "$source/gateway/prompts/notfound.vox" "$dir/"
sock=$dir/boardsim.sock
cat <<EOT
sipline runs in $dir with the simulated board; what the far party hears goes to
$dir/heard.wav (BOARDSIM_CAPTURE). Drive the line from another terminal:
  echo status        | socat - UNIX-CONNECT:$sock
  echo ring          | socat - UNIX-CONNECT:$sock    # the line rings (TDX_CST)
  echo 'digits 100#' | socat - UNIX-CONNECT:$sock    # the far party presses keys
  echo hangup        | socat - UNIX-CONNECT:$sock    # the far party hangs up
  echo 'say x.wav'   | socat - UNIX-CONNECT:$sock    # what the far party says (mono 8 kHz WAV)
  socat READLINE UNIX-CONNECT:$sock                  # type commands one by one
Other settings: BOARDSIM_SAY, BOARDSIM_BLOCK (or "fail"), BOARDSIM_HANGUP_AFTER (seconds).
Call it over SIP on UDP port 5060 of this host with an INVITE whose To names this host, as
sip:NUMBER@$(hostname) or sip:NUMBER@$(hostname -s): a softphone, or a SIPp scenario with that To.
The gateway answers 100, takes the line off-hook, dials NUMBER and answers 200 once dialled.
Settings: ${config:-none (anyone who can reach this host may dial any number; see the
README's "Security" section and deploy/sipline.toml, then: make run CONFIG=FILE)}
Ctrl-C ends sipline: the line goes on-hook and the capture is completed.

EOT
cd "$dir"
export BOARDSIM_CAPTURE=${BOARDSIM_CAPTURE:-$dir/heard.wav}
exec "$build/bin/sipline" "${settings[@]}"
