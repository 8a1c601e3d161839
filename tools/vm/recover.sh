#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: a firmware update cut off by SIGKILL half-way through, then started
# again. The update window must offer the unfinished update from its journal, and the run it
# starts must leave the gadget unit holding the package's images byte for byte. The settings the
# unit had before the cut-off update (remembered then) must be what the recovery journals, although
# the unit was remembered with other settings since, and once the unit runs normally again they
# must be offered back and land in the unit.
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
remembered=$XDG_STATE_HOME/qx77zt/unit-settings
# The operator's settings (preset 3, muted, +20 dB, gains -12 and 6, PPM, true peak, 100 %, dBFS)
# and the factory's, as the unit's 18 settings bytes.
mine=020001020304051011010200f40601020301
factory=000001020304051011000000000000010300
remember() { mkdir -p "$(dirname "$remembered")" && printf 'qx77zt unit settings 1\nQX7700000042 %s\n' "$1" >"$remembered"; }
trap 'kill -KILL "$window_pid" 2>/dev/null; kill "$unit_pid" 2>/dev/null; rm -rf "$work"' EXIT

# Blocks done (field 13) and state (field 15) of the journal's newest entry.
newest() { awk '$1 == "entry" { line = $13 " " $15 } END { print line }' "$journal" 2>/dev/null; }
# shellcheck disable=SC2317 # called through within
under_way() {
    local done
    done=$(newest | cut -d' ' -f1) && [ -n "$done" ] && [ "$done" -ge 8 ]
}

# What the program remembered of the unit before the update.
remember "$mine"

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

# The unit came back from the cut-off update with its settings reset, and was remembered so.
remember "$factory"
# shellcheck disable=SC2317 # called through within
run_ended() { grep -q '^run ended:' "$work/recover.log"; }
"$window" recover >"$work/recover.log" 2>&1 &
window_pid=$!
within 120 run_ended
check $? "the recovery ran: $(grep -E '^(offer|run ended):' "$work/recover.log" | tr '\n' ' ')"
# The unit runs its new firmware: restarted in normal mode, it answers with the factory's settings.
kill -USR2 "$unit_pid"
wait "$window_pid"
check $? "started again: $(grep -E '^(offer|run ended|snapshot|message):' "$work/recover.log" | tr '\n' ' ')"
grep -q '^offer: The last update of this unit was cut off: fw.orbu, version 2.1' "$work/recover.log"
check $? "the offer names the package, its version and how far it got"
grep -q "^snapshot: $mine\$" "$work/recover.log"
check $? "the recovery journalled the settings from before the cut-off update"
grep -q '^message: The firmware update changed the settings of this unit' "$work/recover.log" &&
    grep -q '^message: The unit has its settings from before the update again.' "$work/recover.log"
check $? "once the unit ran normally, its settings were offered back and put back"

rm -f "$work/memory/requests.txt"
kill -HUP "$unit_pid"
within 10 test -e "$work/memory/requests.txt"
check $? "gadget unit saved its memories"
cmp -n 40960 "$work/images/flash.bin" "$work/memory/flash.bin"
check $? "flash holds the package's flash image byte for byte"
cmp -n 1000 "$work/images/eeprom.bin" "$work/memory/eeprom.bin"
check $? "EEPROM holds the package's EEPROM image byte for byte"
[ "$(od -An -tx1 -v "$work/memory/settings.bin" | tr -d ' \n')" = "$mine" ]
check $? "the unit holds the settings from before the update: $(od -An -tx1 -v "$work/memory/settings.bin" | tr -d ' \n')"
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
