#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Exits 0 and prints the unit's hidraw node when a QX-77ZT unit is plugged in, else exits 1.
#
# The unit is recognised as the HID library recognises it: by the manufacturer string of the USB
# device its hidraw node belongs to, the nearest "usb_device" above the node. Counting sysfs
# levels instead goes wrong: the node's HID device sits under a USB interface, and one level too
# many reaches the hub the unit is plugged into.
set -uo pipefail
maker=${QX_UNIT_MANUFACTURER:-ORB-MX}
sysfs=${QX_SYSFS:-/sys}

for node in "$sysfs"/class/hidraw/hidraw*; do
    dir=$(readlink -f "$node/device") || continue
    while [ -n "$dir" ] && [ "$dir" != / ] && [ "$dir" != "$sysfs" ]; do
        if grep -qx 'DEVTYPE=usb_device' "$dir/uevent" 2>/dev/null; then
            if [ "$(cat "$dir/manufacturer" 2>/dev/null)" = "$maker" ]; then
                echo "/dev/$(basename "$node")"
                exit 0
            fi
            break
        fi
        dir=${dir%/*}
    done
done
exit 1
