#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: qx77zt driving the unit's gadget itself (no window program runs): no
# unit, list, set then get, status levels as the gadget unit sends them, no permission for a user
# the node is not open to, and an update landing byte for byte.
#
#   tools/vm/cli.sh BUILD_DIR     (BUILD_DIR holds cli/qx77zt, tools/mkorbu/mkorbu and
#                                  unit/gadget/qx_gadget_unit)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
cli=$build/cli/qx77zt
unit=$build/unit/gadget/qx_gadget_unit
gadget=$here/gadget.sh
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

memory=$(mktemp -d)
work=$(mktemp -d)
runtime=$(mktemp -d)
chmod 700 "$runtime"
unit_pid=
trap 'kill "$unit_pid" 2>/dev/null; rm -rf "$memory" "$work" "$runtime"' EXIT
# The programs' locks and socket in a folder of this run (the runtime folder alone no longer
# moves them).
export XDG_RUNTIME_DIR=$runtime QX77ZT_RUNTIME_DIR=$runtime

# Asks the gadget unit to write what it holds into $memory.
dump() {
    rm -f "$memory/requests.txt"
    kill -HUP "$unit_pid" && within 10 test -e "$memory/requests.txt"
}
# shellcheck disable=SC2317 # called through within
listed() {
    "$cli" list >"$work/list.txt" 2>"$work/list.err" && grep -q "$1" "$work/list.txt"
}
# Runs qx77zt; its exit status goes to $code, its outputs to $work/out and $work/err.
run() {
    "$cli" "$@" >"$work/out" 2>"$work/err"
    code=$?
}

run get
[ "$code" = 3 ] && grep -q "no QX-77ZT unit found" "$work/err"
check $? "no unit: exit status 3 ($code), $(cat "$work/err")"

"$gadget" up --out-endpoint --serial QXVM0001 >/dev/null
check $? "unit's gadget up"
"$unit" --gadget "$gadget" --memory-dir "$memory" &
unit_pid=$!
within 10 unit_takes_signals
check $? "gadget unit started"
node=$("$gadget" hidraw)

within 30 listed "normal mode  accessible"
check $? "list: $(cat "$work/list.txt")"
grep -q "^$node  serial QXVM0001  version " "$work/list.txt"
check $? "list names the node $node and the serial"

run set preset=3 "source.right=ANALOG L"
check "$code" "set preset=3 source.right=ANALOG L: exit status $code $(cat "$work/err")"
run get
grep -qx "preset=3" "$work/out" && grep -qx "source.right=ANALOG L" "$work/out"
check $? "get shows the preset: $(tr '\n' ' ' <"$work/out")"
dump && [ "$(od -An -tu1 -N1 "$memory/settings.bin" | tr -d ' ')" = 2 ]
check $? "the gadget unit holds preset 3"

run status --json
[ "$code" = 0 ] && grep -q '^{"levels":{"left":0,"right":-2},' "$work/out"
check $? "status --json levels as the gadget unit sends them: $(cat "$work/out")"

# A user the node is not open to (the udev rule gives access to the seat's user only).
other=$(mktemp -d)
chown 65534:65534 "$other"
chmod 700 "$other"
XDG_RUNTIME_DIR=$other QX77ZT_RUNTIME_DIR=$other setpriv --reuid=65534 --regid=65534 --clear-groups "$cli" get \
    >"$work/out" 2>"$work/err"
code=$?
rm -rf "$other"
[ "$code" = 4 ] && grep -q "may not open it\|cannot be opened" "$work/err"
check $? "no permission: exit status 4 ($code), $(cat "$work/err")"

# The update: a package of known images, sent to the unit restarted in its boot loader.
head -c 1536 /dev/urandom >"$work/flash.bin"
head -c 512 /dev/urandom >"$work/eeprom.bin"
"$build/tools/mkorbu/mkorbu" --name "QX-77ZT " --flash "$work/flash.bin" \
    --eeprom "$work/eeprom.bin" -o "$work/vm.orbu" >/dev/null
check $? "package made"
kill -USR1 "$unit_pid"
within 30 listed "boot mode"
check $? "unit in boot mode: $(cat "$work/list.txt")"
run update "$work/vm.orbu"
check "$code" "update: exit status $code, $(tail -n 1 "$work/out") $(cat "$work/err")"
dump && cmp -n 1536 "$work/flash.bin" "$memory/flash.bin" && cmp -n 512 "$work/eeprom.bin" "$memory/eeprom.bin"
check $? "the update landed byte for byte"

kill -TERM "$unit_pid"
wait "$unit_pid"
check $? "gadget unit ended cleanly"
unit_pid=
"$gadget" down
exit "$status"
