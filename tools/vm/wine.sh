#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: the command line as built for Windows, under Wine, driving the unit's
# gadget through Wine's HID bus over hidraw: list, status, an acknowledged settings write and an
# update landing byte for byte.
#
#   tools/vm/wine.sh BUILD_DIR WINDOWS_BUILD_DIR PREFIX
#       BUILD_DIR holds unit/gadget/qx_gadget_unit and tools/mkorbu/mkorbu; WINDOWS_BUILD_DIR
#       holds vm_cli_wine.exe; PREFIX is a Wine prefix made on the host with winebus's SDL bus
#       off (it would otherwise keep hidraw devices from being listed), used read-only beneath a
#       writable layer.
#
# What Wine 8 is not: the unit is picked by its ids rather than its strings (vm_cli_wine), and
# nothing here relies on the byte count a write reports (64 for the 65-byte report).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
windows_build=$2
lower=$3
unit=$build/unit/gadget/qx_gadget_unit
gadget=$here/gadget.sh
exe=$windows_build/vm_cli_wine.exe
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
memory=$(mktemp -d)
work=$(mktemp -d)
layer=$(mktemp -d)
unit_pid=
export WINEPREFIX=$layer/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    kill "$unit_pid" 2>/dev/null
    "$server" -k 2>/dev/null
    umount "$WINEPREFIX" 2>/dev/null
    rm -rf "$memory" "$work" "$layer"
}
trap cleanup EXIT

mkdir -p "$layer/upper" "$layer/work" "$WINEPREFIX"
modprobe overlay 2>/dev/null
mount -t overlay overlay -o "lowerdir=$lower,upperdir=$layer/upper,workdir=$layer/work" \
    "$WINEPREFIX"
check $? "Wine prefix mounted"

# Asks the gadget unit to write what it holds into $memory.
dump() {
    rm -f "$memory/requests.txt"
    kill -HUP "$unit_pid" && within 10 test -e "$memory/requests.txt"
}
# Prints the call stack of every thread of the hung command, as offsets into the executable and
# its libraries (x86_64-w64-mingw32-addr2line -e vm_cli_wine.exe 0x140000000+offset turns them
# into lines of code on the build machine).
backtraces() {
    local pid tids
    pid=$("$wine" winedbg --command "info process" 2>/dev/null | tr -d '\r' |
        awk '/vm_cli_wine/ { print $1; exit }')
    [ -n "$pid" ] || return
    tids=$(printf 'info thread\nquit\n' | "$wine" winedbg 2>/dev/null | tr -d '\r' |
        awk -v p="$pid" '/^[^ \t]/ { in_it = ($1 == p) } /^[ \t]/ && in_it { print $1 }')
    { echo "attach 0x$pid"; for t in $tids; do echo "bt 0x$t"; done; echo detach; echo quit; } |
        timeout 120 "$wine" winedbg 2>&1 | tr -d '\r' | grep -E '^(Backtrace|=?>? *[0-9]+ 0x)' |
        sed 's/^/hung: /'
}
# Runs the program under Wine; its exit status goes to $code, its outputs (without the CRs of
# Windows line ends) to $work/out and $work/err. A run that hangs is shown (its threads' stacks)
# and ended, rather than holding the machine until its own time limit.
run() {
    "$wine" "$exe" "$@" >"$work/out" 2>"$work/err" &
    local pid=$! start=$SECONDS limit=${QX_WINE_RUN_LIMIT:-120}
    while kill -0 "$pid" 2>/dev/null && [ $((SECONDS - start)) -lt "$limit" ]; do
        sleep 0.2
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "hung: qx77zt $* has not ended after $limit s; its threads:"
        backtraces
        kill -KILL "$pid" 2>/dev/null
        echo "qx77zt $* did not end within $limit s" >>"$work/err"
    fi
    wait "$pid"
    code=$?
    sed -i 's/\r$//' "$work/out" "$work/err"
}
# shellcheck disable=SC2317 # called through within
listed() {
    run list && grep -q "$1" "$work/out"
}

"$gadget" up --out-endpoint --serial QXVMW001 >/dev/null
check $? "unit's gadget up"
"$unit" --gadget "$gadget" --memory-dir "$memory" &
unit_pid=$!
within 10 unit_takes_signals
check $? "gadget unit started"

# Wine's server and HID bus stay up between the runs: starting them is most of a run's time.
"$server" -p 600
start=$SECONDS
within 120 listed "serial QXVMW001 .* normal mode  accessible"
check $? "list after $((SECONDS - start)) s: $(cat "$work/out" "$work/err")"

start=$SECONDS
run set preset=3 "source.right=ANALOG L"
check "$code" "set preset=3 source.right=ANALOG L in $((SECONDS - start)) s: exit status $code $(cat "$work/err")"
dump && [ "$(od -An -tu1 -N1 "$memory/settings.bin" | tr -d ' ')" = 2 ]
check $? "the gadget unit holds preset 3"

run status --json
[ "$code" = 0 ] && grep -q '^{"levels":{"left":0,"right":-2},' "$work/out"
check $? "status --json: exit status $code, $(cat "$work/out" "$work/err")"

head -c 1536 /dev/urandom >"$work/flash.bin"
head -c 512 /dev/urandom >"$work/eeprom.bin"
"$build/tools/mkorbu/mkorbu" --name "QX-77ZT " --flash "$work/flash.bin" \
    --eeprom "$work/eeprom.bin" -o "$work/vm.orbu" >/dev/null
check $? "package made"
kill -USR1 "$unit_pid"
within 60 listed "boot mode"
check $? "unit in boot mode: $(cat "$work/out" "$work/err")"
start=$SECONDS
run update "Z:$work/vm.orbu"
check "$code" "update in $((SECONDS - start)) s: exit status $code, $(tail -n 1 "$work/out") $(cat "$work/err")"
dump && cmp -n 1536 "$work/flash.bin" "$memory/flash.bin" &&
    cmp -n 512 "$work/eeprom.bin" "$memory/eeprom.bin"
check $? "the update landed byte for byte"

kill -TERM "$unit_pid"
wait "$unit_pid"
check $? "gadget unit ended cleanly"
unit_pid=
"$gadget" down
exit "$status"
