#!/bin/bash
# Inside the test machine: a firmware update cut off by SIGKILL half-way through, then started
# again. The update window must offer the unfinished update from its journal, and the run it
# starts must leave the gadget unit holding the package's images byte for byte.
#
#   tools/vm/recover.sh BUILD_DIR   (BUILD_DIR holds vm_update_window, qx_gadget_unit, mkorbu)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
window=$build/tests/vm/vm_update_window
unit=$build/unit/gadget/qx_gadget_unit
mkorbu=$build/tools/mkorbu/mkorbu
gadget=$here/gadget.sh
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

work=$(mktemp -d)
mkdir -p "$work/images" "$work/memory" "$work/runtime"
chmod 700 "$work/runtime"
export XDG_STATE_HOME=$work/state XDG_RUNTIME_DIR=$work/runtime QX77ZT_RUNTIME_DIR=$work/runtime
journal=$XDG_STATE_HOME/qx77zt/update-journal
trap 'kill -KILL "$window_pid" 2>/dev/null; kill "$unit_pid" 2>/dev/null; rm -rf "$work"' EXIT

# Blocks done (field 13) and state (field 15) of the journal's newest entry.
newest() { awk '$1 == "entry" { line = $13 " " $15 } END { print line }' "$journal" 2>/dev/null; }
# shellcheck disable=SC2317 # called through within
under_way() {
    local done
    done=$(newest | cut -d' ' -f1) && [ -n "$done" ] && [ "$done" -ge 8 ]
}

# 80 flash blocks, each followed by its pause, and two EEPROM blocks: several seconds to cut.
head -c 40960 /dev/urandom >"$work/images/flash.bin"
head -c 1000 /dev/urandom >"$work/images/eeprom.bin"
"$mkorbu" --name "QX-77ZT " --version 2.1 --flash "$work/images/flash.bin" \
    --eeprom "$work/images/eeprom.bin" -o "$work/images/fw.orbu" >/dev/null
check $? "package of 40960 flash and 1000 EEPROM bytes made"

"$gadget" up --out-endpoint >/dev/null
check $? "unit's gadget up"
"$unit" --gadget "$gadget" --memory-dir "$work/memory" &
unit_pid=$!
within 10 unit_takes_signals
check $? "gadget unit started"
kill -USR1 "$unit_pid"
check $? "gadget unit restarts in its boot loader"

"$window" start "$work/images/fw.orbu" >"$work/start.log" 2>&1 &
window_pid=$!
within 90 under_way
check $? "the transfer is under way and journalled: $(newest)"
kill -KILL "$window_pid"
wait "$window_pid" 2>/dev/null
cut=$(newest)
[ "${cut#* }" = running ] && [ "${cut% *}" -lt 82 ]
check $? "killed half-way: the journal holds an unfinished entry ($cut)"

"$window" recover >"$work/recover.log" 2>&1
check $? "started again: $(grep -E '^(offer|run ended|message):' "$work/recover.log" | tr '\n' ' ')"
grep -q '^offer: The last update of this unit was cut off: fw.orbu, version 2.1' "$work/recover.log"
check $? "the offer names the package, its version and how far it got"

rm -f "$work/memory/requests.txt"
kill -HUP "$unit_pid"
within 10 test -e "$work/memory/requests.txt"
check $? "gadget unit saved its memories"
cmp -n 40960 "$work/images/flash.bin" "$work/memory/flash.bin"
check $? "flash holds the package's flash image byte for byte"
cmp -n 1000 "$work/images/eeprom.bin" "$work/memory/eeprom.bin"
check $? "EEPROM holds the package's EEPROM image byte for byte"
if [ "$status" != 0 ]; then
    echo "---- first run"
    cat "$work/start.log"
    echo "---- second run"
    cat "$work/recover.log"
fi

kill -TERM "$unit_pid"
wait "$unit_pid"
check $? "gadget unit ended cleanly"
"$gadget" down
exit "$status"
