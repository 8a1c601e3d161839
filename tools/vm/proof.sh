#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: makes the gadget, runs the round-trip proof and checks that a udev
# monitor saw the hidraw node go and come back while the proof unplugged and plugged the gadget.
#
#   tools/vm/proof.sh PATH-OF-vm_hid_roundtrip
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
proof=$1

"$here/gadget.sh" up >/dev/null || exit 1

events=$(mktemp)
stdbuf -oL udevadm monitor --udev --subsystem-match=hidraw >"$events" &
monitor=$!
sleep 1 # the monitor has to be listening before the first unplug

"$proof" --gadget "$here/gadget.sh"
status=$?

udevadm control --ping --timeout=5 >/dev/null 2>&1 && udevadm settle --timeout=30
kill "$monitor"
wait "$monitor" 2>/dev/null
# One remove and one add for the unplug and plug, and again for the rename.
removes=$(grep -c '^UDEV .* remove .*/hidraw/hidraw[0-9]* (hidraw)' "$events")
adds=$(grep -c '^UDEV .* add .*/hidraw/hidraw[0-9]* (hidraw)' "$events")
if [ "$removes" -ge 2 ] && [ "$adds" -ge 2 ]; then
    echo "ok   udev monitor saw the hidraw node removed $removes and added $adds times"
else
    echo "FAIL udev monitor saw $removes removes and $adds adds of hidraw, expected 2 each"
    sed 's/^/udev: /' "$events"
    status=1
fi
rm -f "$events"
exit "$status"
