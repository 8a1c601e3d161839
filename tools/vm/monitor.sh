#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: the headless monitor (`qx77zt monitor`) watching the unit's gadget with
# no window program: a silence alarm raised while the gadget unit sends silence and cleared once
# it sends a tone, a unit-lost alarm raised while the gadget is unplugged and cleared once it is
# back, the operator's command run once for each raise and each clear with the facts in its
# environment, and every one of them in the event log; then SIGTERM ends the monitor cleanly.
# Also its resident memory and processor use while it polls.
#
#   tools/vm/monitor.sh BUILD_DIR     (BUILD_DIR holds cli/qx77zt and unit/gadget/qx_gadget_unit)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
cli=$build/cli/qx77zt
unit=$build/unit/gadget/qx_gadget_unit
gadget=$here/gadget.sh
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

work=$(mktemp -d)
chmod 700 "$work"
unit_pid=
monitor_pid=
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    kill "$unit_pid" "$monitor_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/runtime" "$work/config/qx77zt" "$work/state" "$work/memory"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime QX77ZT_RUNTIME_DIR=$work/runtime
export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state

# The operator's command: one line per call, from the environment only.
cat >"$work/alarm-command" <<'EOF'
#!/bin/sh
echo "$QX_ALARM $QX_STATE $QX_SERIAL $QX_UNIT $QX_TIME" >>"$QX_TEST_CALLS"
EOF
chmod +x "$work/alarm-command"
export QX_TEST_CALLS=$work/calls.txt
cat >"$work/config/qx77zt/alarms.conf" <<EOF
[alarms]
silence = on
silence.level = -30
silence.channels = both
silence.after = 3s
silence.clear = 1s
lost = on
lost.after = 3s
lost.clear = 1s
[actions]
notify = off
command = $work/alarm-command
command.limit = 5s
EOF

start_unit() { # LEVELS
    "$unit" --gadget "$gadget" --memory-dir "$work/memory" --levels "$1" 2>>"$work/unit.log" &
    unit_pid=$!
    within 10 unit_takes_signals
    check $? "gadget unit started with levels $1"
}
calls() { # ALARM STATE: how many times the command ran for them
    local n
    n=$(grep -c "^$1 $2 QXVM0001 " "$work/calls.txt" 2>/dev/null)
    echo "${n:-0}"
}
# shellcheck disable=SC2317 # called through within
called() { [ "$(calls "$1" "$2")" -ge 1 ]; }

"$gadget" up --out-endpoint --serial QXVM0001 >/dev/null
check $? "unit's gadget up"
start_unit silence

"$cli" monitor >"$work/monitor.out" 2>"$work/monitor.err" &
monitor_pid=$!

within 40 called silence raised
check $? "silence alarm raised and the command run: $(cat "$work/calls.txt" 2>/dev/null)"

# While it polls: what the monitor costs.
if [ -r "/proc/$monitor_pid/status" ]; then
    echo "measure: monitor VmRSS $(awk '/^VmRSS:/ { print $2 " " $3 }' "/proc/$monitor_pid/status") with one unit"
    "$here/wakeups.sh" "$monitor_pid" 5 2>/dev/null | sed 's/^/measure: monitor /' | tail -n 3
fi

# A tone instead of silence: the gadget unit restarted behind the same gadget.
kill -TERM "$unit_pid" && wait "$unit_pid"
start_unit steady
within 30 called silence cleared
check $? "silence alarm cleared and the command run: $(tail -n 2 "$work/calls.txt" 2>/dev/null)"

"$gadget" unplug >/dev/null
check $? "gadget unplugged"
within 40 called lost raised
check $? "unit-lost alarm raised and the command run"
"$gadget" plug >/dev/null
check $? "gadget plugged back"
within 40 called lost cleared
check $? "unit-lost alarm cleared and the command run"

kill -TERM "$monitor_pid"
wait "$monitor_pid"
code=$?
monitor_pid=
check "$code" "monitor ended on SIGTERM with status $code: $(tail -n 3 "$work/monitor.err")"

for a in "silence raised" "silence cleared" "lost raised" "lost cleared"; do
    # shellcheck disable=SC2086 # two words on purpose
    n=$(calls $a)
    [ "$n" = 1 ]
    check $? "the command ran once for $a ($n)"
done
grep -q " QXVM0001 QXVM0001 20[0-9][0-9]-" "$work/calls.txt"
check $? "the command was given the unit and the time: $(head -n 1 "$work/calls.txt")"

"$cli" events --json >"$work/events.json" 2>"$work/events.err"
check $? "qx77zt events: $(cat "$work/events.err")"
for want in '"kind":"alarm-raised".*"alarm":"silence"' '"kind":"alarm-cleared".*"alarm":"silence"' \
    '"kind":"alarm-raised".*"alarm":"lost"' '"kind":"alarm-cleared".*"alarm":"lost"' \
    '"kind":"connected"' '"kind":"disconnected"'; do
    grep -q "$want" "$work/events.json"
    check $? "event log holds $want"
done

kill -TERM "$unit_pid"
wait "$unit_pid"
unit_pid=
"$gadget" down
exit "$status"
