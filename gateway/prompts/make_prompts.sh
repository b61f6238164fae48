#!/usr/bin/env bash
# Makes the gateway's prompts: 8-bit mu-law, 8000 samples per second, raw (no header), as the
# board plays them. Needs espeak-ng and sox. The results are committed; run again only to change
# the wording.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
make_prompt() {
    espeak-ng -v en-us -s 150 -w "$work/$1.wav" "$2"
    sox "$work/$1.wav" -r 8000 -c 1 -e mu-law -b 8 -t raw "$1.vox" norm -3
}
make_prompt enter "Please enter the number to call, then press the hash key."
make_prompt notfound "Sorry, that number was not found."
ls -l enter.vox notfound.vox
