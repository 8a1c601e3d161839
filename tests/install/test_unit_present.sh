#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# tools/unit-present.sh, which tools/run.sh asks whether to start the real program, against sysfs
# trees laid out as the kernel lays them out: hidraw node under its HID device, under the USB
# interface, under the USB device whose strings the unit gives, under the hub it is plugged into.
#   test_unit_present.sh REPO
set -uo pipefail
repo=$1
probe=$repo/tools/unit-present.sh
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0

# usb_device DIR MANUFACTURER
usb_device() {
    mkdir -p "$1"
    printf 'DEVTYPE=usb_device\n' >"$1/uevent"
    printf '%s\n' "$2" >"$1/manufacturer"
}
# hidraw SYSFS N DEVICE_DIR: hidrawN below the HID device in DEVICE_DIR, linked from class/hidraw.
hidraw() {
    local sysfs=$1 n=$2 hid=$3
    mkdir -p "$hid/hidraw/hidraw$n" "$sysfs/class/hidraw"
    ln -s "$hid" "$hid/hidraw/hidraw$n/device"
    ln -s "$hid/hidraw/hidraw$n" "$sysfs/class/hidraw/hidraw$n"
}
# A device on a hub: usb_device for both, an interface between the device and its HID device.
plugged() {
    local sysfs=$1 n=$2 hub_maker=$3 maker=$4
    local bus=$sysfs/devices/pci0000:00/0000:00:14.0/usb$n
    usb_device "$bus" "$hub_maker"
    usb_device "$bus/$n-1" "$maker"
    mkdir -p "$bus/$n-1/$n-1:1.0"
    printf 'DEVTYPE=usb_interface\n' >"$bus/$n-1/$n-1:1.0/uevent"
    hidraw "$sysfs" "$n" "$bus/$n-1/$n-1:1.0/0003:1209:0001.000$n"
}

# case NAME WANT(node or "none") SETUP...
case_() {
    local name=$1 want=$2 sysfs=$root/$1 got
    shift 2
    mkdir -p "$sysfs"
    "$@" "$sysfs"
    got=$(QX_SYSFS=$sysfs bash "$probe")
    local code=$?
    if { [ "$want" = none ] && [ "$code" = 1 ] && [ -z "$got" ]; } ||
        { [ "$want" != none ] && [ "$code" = 0 ] && [ "$got" = "$want" ]; }; then
        echo "ok   $name"
    else
        echo "FAIL $name: wanted $want, got '$got' (exit $code)"
        failures=$((failures + 1))
    fi
}

unit_on_hub() { plugged "$1" 1 "Linux 6.1.0-57-amd64 dummy_hcd" ORB-MX; }
foreign_on_hub() { plugged "$1" 1 "Linux 6.1.0-57-amd64 xhci-hcd" ACME-HID; }
foreign_below_unit_named_hub() { plugged "$1" 1 ORB-MX ACME-HID; }
foreign_then_unit() {
    plugged "$1" 1 "Linux xhci-hcd" ACME-HID
    plugged "$1" 2 "Linux xhci-hcd" ORB-MX
}
# A HID device that is not on USB (uhid, Bluetooth): no usb_device above it at all.
virtual_only() { hidraw "$1" 0 "$1/devices/virtual/misc/uhid/0005:1209:0001.0001"; }
nothing() { :; }

case_ "the unit on a hub" /dev/hidraw1 unit_on_hub
case_ "another maker's device" none foreign_on_hub
case_ "another maker's device on a hub that says ORB-MX" none foreign_below_unit_named_hub
case_ "the unit behind another device" /dev/hidraw2 foreign_then_unit
case_ "a HID device not on USB" none virtual_only
case_ "no hidraw nodes" none nothing

[ "$failures" = 0 ]
