#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# symbolize-hidlib.sh BUILD_ID [BASE_ADDRESS] < trace: names the frames of the HID library in a
# stack trace. The program loads the library from memory, so a trace (a sanitizer's, gdb's, a
# backtrace) shows its frames as "/proc/self/fd/N+0xOFFSET" or "/memfd:HID_Lib (deleted)+0x...",
# which no tool can open. The diagnostics report ("HID library" section) gives the module's build
# id and the address it was mapped at; this finds the module with that build id (in the build
# folders, or under /usr/lib/debug/.build-id) and runs addr2line on each such frame. With
# BASE_ADDRESS, bare addresses inside the module (0x7f...) are turned into offsets as well.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
id=${1:?usage: symbolize-hidlib.sh BUILD_ID [BASE_ADDRESS] < trace}
base=${2:-}

module=
candidates=("/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug")
for f in "$root"/build/*/hidlib/HID_Lib.so "$root"/build/*/unit/HID_Lib.so; do
    candidates+=("$f")
done
for f in "${candidates[@]}"; do
    [ -f "$f" ] || continue
    if readelf -n "$f" 2>/dev/null | grep -q "Build ID: $id"; then
        module=$f
        break
    fi
done
if [ -z "$module" ]; then
    echo "symbolize-hidlib: no module with build id $id (build the same sources, or install the debug symbols)" >&2
    exit 1
fi
echo "symbolize-hidlib: using $module" >&2

name() { addr2line -f -C -i -p -e "$module" "$1" | tr '\n' ' ' | sed 's/ *$//'; }

while IFS= read -r line; do
    if [[ $line =~ (/proc/self/fd/[0-9]+|/memfd:HID_Lib[^+]*)\+(0x[0-9a-fA-F]+) ]]; then
        printf '%s  [%s]\n' "$line" "$(name "${BASH_REMATCH[2]}")"
    elif [ -n "$base" ] && [[ $line =~ (0x[0-9a-fA-F]{6,}) ]] &&
        off=$((BASH_REMATCH[1] - base)) && [ "$off" -ge 0 ] && [ "$off" -lt $((1 << 24)) ]; then
        printf '%s  [%s]\n' "$line" "$(name "$(printf '0x%x' "$off")")"
    else
        printf '%s\n' "$line"
    fi
done
