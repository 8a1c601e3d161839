#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: the program itself, QX_77ZT with its embedded HID library and its
# windows on the offscreen platform, against the unit's gadget. The gadget unit counts what
# arrives: the program must poll the unit for its status, follow an unplug and plug by itself, and
# end cleanly when the session asks it to. Connected and polling, its wake-ups per thread and its
# processor use are measured; a plug brings exactly one rescan, which opens the unit's node once.
#
#   tools/vm/program.sh BUILD_DIR     (BUILD_DIR holds app/QX_77ZT, qx_gadget_unit, vm_scan)
#
# QX_VM_PROGRAM: another build of the program to run instead (to measure it).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
program=${QX_VM_PROGRAM:-$build/app/QX_77ZT}
unit=$build/unit/gadget/qx_gadget_unit
scan=$build/tests/vm/vm_scan
gadget=$here/gadget.sh
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

memory=$(mktemp -d)
runtime=$(mktemp -d)
chmod 700 "$runtime"
trap 'kill "$program_pid" "$unit_pid" 2>/dev/null; rm -rf "$memory" "$runtime"' EXIT

# How many status requests (command 00) the gadget unit has received so far.
status_requests() {
    rm -f "$memory/requests.txt"
    kill -HUP "$unit_pid" 2>/dev/null || return 1
    within 10 test -e "$memory/requests.txt" || return 1
    awk '$1 == "00" { n = $2 } END { print n + 0 }' "$memory/requests.txt"
}
# shellcheck disable=SC2317 # called through within
polled_beyond() {
    local now
    now=$(status_requests) && [ "$now" -gt "$1" ]
}

# shellcheck disable=SC2317 # called through within
program_gone() {
    ! kill -0 "$program_pid" 2>/dev/null
}

"$gadget" up --out-endpoint >/dev/null
check $? "unit's gadget up"
"$unit" --gadget "$gadget" --memory-dir "$memory" &
unit_pid=$!
within 10 unit_takes_signals
check $? "gadget unit started"

XDG_RUNTIME_DIR=$runtime QX77ZT_RUNTIME_DIR=$runtime QT_QPA_PLATFORM=offscreen "$program" >"$memory/program.log" 2>&1 &
program_pid=$!
within 60 polled_beyond 10
check $? "the program connects and polls the unit for its status: $(status_requests) requests"

echo "---- connected and polling: $program"
"$here/wakeups.sh" "$program_pid" 10

# The scan opens no node, so each rescan that finds the unit opens its node once: the opens during
# an unplug and plug count the rescans.
"$scan" count-opens 20 >"$memory/opens.txt" &
counter_pid=$!
sleep 1
"$gadget" unplug >/dev/null
check $? "gadget unbound"
sleep 1
"$gadget" plug >/dev/null
check $? "gadget bound"
after_plug=$(status_requests)
within 30 polled_beyond $((after_plug + 10))
check $? "the program reconnects by itself and polls again: $(status_requests) requests"
wait "$counter_pid"
opens=$(cat "$memory/opens.txt")
[ "$opens" = 1 ]
check $? "one rescan for the unplug and plug: the unit's node opened $opens times"

kill -0 "$program_pid" 2>/dev/null
check $? "the program still runs"
kill -TERM "$program_pid"
within 20 program_gone
wait "$program_pid"
code=$?
check "$code" "the program ends cleanly when the session ends it (SIGTERM): exit status $code"
! grep -E "Sanitizer|runtime error|QThread: Destroyed" "$memory/program.log"
check $? "nothing alarming on the program's output"
if [ "$status" != 0 ]; then
    echo "---- program output"
    cat "$memory/program.log"
fi

kill -TERM "$unit_pid"
wait "$unit_pid"
check $? "gadget unit ended cleanly"
"$gadget" down
exit "$status"
