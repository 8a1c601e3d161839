#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The monitor's systemd user unit, as systemd itself reads it: no warning, and the command it
# starts exists. Skipped (status 77) where systemd-analyze is missing or cannot run here.
# usage: test_service_unit.sh UNIT_FILE MAN_PAGE
set -euo pipefail
unit=$1
page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}

if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "systemd-analyze is not installed: the unit was not checked"
    exit 77
fi
# A user manager of its own: its runtime folder, and the manual page the unit names.
mkdir -p "$work/runtime" "$work/man/man1"
chmod 700 "$work/runtime"
cp "$page" "$work/man/man1/"
verify() {
    XDG_RUNTIME_DIR="$work/runtime" MANPATH="$work/man" systemd-analyze --user verify "$1" 2>&1
}
# Whether it runs here at all: a unit known to be sound must pass.
printf '[Service]\nType=oneshot\nExecStart=/bin/true\n' >"$work/sound.service"
if ! verify "$work/sound.service" >/dev/null; then
    echo "systemd-analyze cannot verify user units here: the unit was not checked"
    exit 77
fi
# It says what it dislikes without failing: any word from it is a fault.
cp "$unit" "$work/qx77zt-monitor.service"
output=$(verify "$work/qx77zt-monitor.service") || fail "systemd-analyze verify: $output"
[ -z "$output" ] || fail "systemd-analyze verify: $output"
# And the checks would see a fault: a misspelt setting is reported.
sed 's/^Restart=on-failure$/Restart=on-faliure/' "$unit" >"$work/faulty.service"
[ -n "$(verify "$work/faulty.service" || true)" ] || fail "a faulty unit passes unnoticed"

# What it must hold: the monitor, restarted on failure only, started with the user's session
# once enabled.
grep -qx 'ExecStart=.*/qx77zt monitor' "$unit" || fail "ExecStart does not run qx77zt monitor"
grep -qx 'Restart=on-failure' "$unit" || fail "not restarted on failure"
grep -qx 'WantedBy=default.target' "$unit" || fail "not wanted by the user's default target"
echo "1 passed, 0 failed"
