#!/bin/bash
# Fails when a file (tests included) includes a folder that stands later in the layer order than
# its own; bench/ and fuzz/ may include anything. Usage: check_includes.sh [source folder]
set -u
root=${1:-${SIPLINE_SOURCE:-$(dirname "$0")/..}}
# The program's main wires the gateway and its watchers (service/) together: it stands last.
order=(host support config dsp board sip/message sip/sdp sip/uas rtp boardsim media gateway service
       gateway/main.cpp)

# Sets $ranked to the index of the last entry of order that holds the path (-1: none); no
# subshell, as it runs for every include of every file.
rank() {
    local path=$1 i
    ranked=-1
    for i in "${!order[@]}"; do
        [[ $path == "${order[$i]}"/* || $path == "${order[$i]}" ]] && ranked=$i
    done
}

bad=0
cd "$root" || exit 2
for dir in "${order[@]}"; do
    [[ -d $dir ]] || continue
    while IFS= read -r file; do
        rank "$file"
        own=$ranked
        while IFS= read -r line; do
            target=${line#*\"}
            target=${target%%\"*}
            rank "$target"
            their=$ranked
            if ((their > own)); then
                echo "$file includes $target: ${order[$their]} stands after ${order[$own]}"
                bad=1
            fi
        done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
    done < <(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.cc' -o -name '*.hpp' \))
done
exit "$bad"
