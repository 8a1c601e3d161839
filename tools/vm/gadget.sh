#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the unit appear as a real USB HID device inside the test machine: a configfs USB gadget on
# the dummy host/device controller pair, so the kernel's own usbhid creates a /dev/hidrawN for it
# while /dev/hidg0 is the unit's side of the wire.
#
#   gadget.sh up [--manufacturer S] [--product S] [--serial S] [--bcd 0xNNNN] [--descriptor HEX]
#                [--out-endpoint] [--also HEX]...
#                --also adds another HID function with that descriptor ("unit": the unit's):
#                one more hidraw node
#   gadget.sh unplug | plug        unbind from / bind to the controller (wait for hidraw to follow)
#   gadget.sh rename PRODUCT       unplug, change the product string, plug
#   gadget.sh reserial SERIAL      unplug, change the serial number, plug
#   gadget.sh hidraw               print the /dev/hidrawN of the gadget
#   gadget.sh hidg                 print the /dev/hidgN of its (first) function, the unit's side
#   gadget.sh port                 print where it is plugged in, as the kernel names the port (3-1)
#   gadget.sh down                 unplug and remove the gadget
#
# QX_GADGET_INDEX=N (0 to 3, default 0) picks one of four gadgets, each on a controller pair of its
# own (dummy_udc.N and its host, so its own USB bus and port); the gadget unit passes the variable
# on when it renames its gadget. The kernel's HID gadget function has four report nodes in all
# (/dev/hidg0 to 3), so the four gadgets together may have four functions.
#
# Test ids 0x1209:0x0001. The default report descriptor is the unit's: report ID 1, 64-byte input
# and output reports on a vendor page (65 bytes each with the ID byte). The function has no OUT
# endpoint, so output reports travel as SET_REPORT requests and are read on /dev/hidg0.
#
# QX_VM_FAULT=wrong-manufacturer makes the gadget give another manufacturer, to prove that the
# checks on the other side notice.
set -euo pipefail

vid=0x1209
pid=0x0001
index=${QX_GADGET_INDEX:-0}
[[ "$index" =~ ^[0-3]$ ]] || { echo "gadget: QX_GADGET_INDEX must be 0 to 3" >&2; exit 1; }
udcs=4
if [ "$index" = 0 ]; then
    root=/sys/kernel/config/usb_gadget/qx
else
    root=/sys/kernel/config/usb_gadget/qx$index
fi
udc_name=dummy_udc.$index
wait_seconds=${QX_GADGET_WAIT:-60}

# Usage page 0xFF00, application collection, report ID 1, 64 bytes of 8 bits in and out.
unit_descriptor=06:00:ff:09:01:a1:01:85:01:15:00:26:ff:00:75:08:95:40:09:01:81:02:09:02:95:40:91:02:c0

die() {
    echo "gadget: $*" >&2
    exit 1
}

# Loads a module unless it is loaded: a modprobe costs most of a second under emulation.
load() {
    [ -e "/sys/module/$1" ] || modprobe "$@"
}

setup_kernel() {
    load configfs
    mountpoint -q /sys/kernel/config || mount -t configfs none /sys/kernel/config
    load libcomposite
    load usb_f_hid
    load dummy_hcd num=$udcs
    if [ ! -e "/sys/class/udc/$udc_name" ] && [ -e /sys/module/dummy_hcd ]; then
        # Loaded before with fewer controller pairs: again with all of them, which works only
        # while no gadget is bound.
        rmmod dummy_hcd || die "dummy_hcd is loaded without $udc_name and cannot be reloaded"
        modprobe dummy_hcd num=$udcs
    fi
    load usbhid
    # Normally udev loads it from the device's modalias; loaded here, hidraw does not hang on udev.
    load hid_generic
    local waited=0
    until [ -e "/sys/class/udc/$udc_name" ]; do
        [ "$waited" -lt "$wait_seconds" ] || die "no $udc_name controller"
        sleep 1
        waited=$((waited + 1))
    done
}

# The hidraw node whose HID device carries our ids and hangs off this gadget's host controller, or
# nothing.
find_hidraw() {
    local want node
    want=$(printf 'HID_ID=0003:%08X:%08X' "$vid" "$pid")
    for node in /sys/class/hidraw/hidraw*; do
        [ -e "$node/device/uevent" ] || continue
        case "$(readlink -f "$node/device")" in
        */dummy_hcd."$index"/*) ;;
        *) continue ;;
        esac
        if grep -qx "$want" "$node/device/uevent"; then
            echo "/dev/$(basename "$node")"
            return 0
        fi
    done
    return 0
}

# Waits until the gadget's hidraw node is there (want=present) or gone (want=absent), then lets
# udev finish its rules so that monitors and permissions are settled too.
wait_hidraw() {
    local want=$1 node deadline=$((SECONDS + wait_seconds))
    while :; do
        node=$(find_hidraw)
        if { [ "$want" = present ] && [ -n "$node" ] && [ -e "$node" ]; } ||
            { [ "$want" = absent ] && [ -z "$node" ]; }; then
            break
        fi
        [ "$SECONDS" -lt "$deadline" ] || die "hidraw node still not $want after $wait_seconds s"
        sleep 0.1
    done
    # Without a running udevd there is nothing to settle, and settle would wait out its timeout.
    if udevadm control --ping --timeout=5 >/dev/null 2>&1; then
        udevadm settle --timeout="$wait_seconds" || true
    fi
}

plug() {
    [ -d "$root" ] || die "no gadget; run 'gadget.sh up' first"
    if [ -z "$(cat "$root/UDC")" ]; then
        echo "$udc_name" >"$root/UDC"
    fi
    wait_hidraw present
}

unplug() {
    [ -d "$root" ] || return 0
    if [ -n "$(cat "$root/UDC")" ]; then
        echo "" >"$root/UDC"
    fi
    wait_hidraw absent
}

# write_descriptor FUNCTION HEX
write_descriptor() {
    local function=$1 hex=$2 escaped
    [[ "$hex" =~ ^([0-9a-fA-F]{2}:?)+$ ]] || die "descriptor must be hex bytes, e.g. 06:00:ff"
    escaped=$(echo "$hex" | tr -d ':' | sed 's/../\\x&/g')
    printf '%b' "$escaped" >"$root/functions/$function/report_desc"
}

# add_function NAME NO_OUT_ENDPOINT HEX
add_function() {
    local function=$1
    mkdir "$root/functions/$function"
    echo 0 >"$root/functions/$function/protocol"
    echo 0 >"$root/functions/$function/subclass"
    # The longest report plus its ID byte: f_hid moves whole reports of at most this size.
    echo 65 >"$root/functions/$function/report_length"
    echo "$2" >"$root/functions/$function/no_out_endpoint"
    if [ "$3" = unit ]; then
        write_descriptor "$function" "$unit_descriptor"
    else
        write_descriptor "$function" "$3"
    fi
    ln -s "$root/functions/$function" "$root/configs/c.1/"
}

up() {
    local manufacturer=ORB-MX product=QX-77ZT serial=QX7700000042 bcd=0x0102
    local descriptor=$unit_descriptor no_out_endpoint=1 also=()
    while [ $# -gt 0 ]; do
        case "$1" in
        --manufacturer) manufacturer=$2 ;;
        --product) product=$2 ;;
        --serial) serial=$2 ;;
        --bcd) bcd=$2 ;;
        --descriptor) descriptor=$2 ;;
        --also) also+=("$2") ;;
        --out-endpoint)
            no_out_endpoint=0
            shift
            continue
            ;;
        *) die "unknown option $1" ;;
        esac
        shift 2
    done
    if [ "${QX_VM_FAULT:-}" = wrong-manufacturer ]; then
        manufacturer="ORB-MY"
    fi

    setup_kernel
    [ -d "$root" ] && down
    mkdir "$root"
    echo "$vid" >"$root/idVendor"
    echo "$pid" >"$root/idProduct"
    echo "$bcd" >"$root/bcdDevice"
    echo 0x0200 >"$root/bcdUSB"
    mkdir "$root/strings/0x409"
    echo "$manufacturer" >"$root/strings/0x409/manufacturer"
    echo "$product" >"$root/strings/0x409/product"
    echo "$serial" >"$root/strings/0x409/serialnumber"

    mkdir "$root/configs/c.1"
    mkdir "$root/configs/c.1/strings/0x409"
    echo "HID" >"$root/configs/c.1/strings/0x409/configuration"
    echo 100 >"$root/configs/c.1/MaxPower"

    add_function hid.usb0 "$no_out_endpoint" "$descriptor"
    local i
    for i in "${!also[@]}"; do
        add_function "hid.usb$((i + 1))" 1 "${also[$i]}"
    done

    plug
    find_hidraw
}

down() {
    [ -d "$root" ] || return 0
    unplug
    local function
    for function in "$root"/functions/hid.usb*; do
        rm -f "$root/configs/c.1/$(basename "$function")"
    done
    rmdir "$root/configs/c.1/strings/0x409" "$root/configs/c.1"
    rmdir "$root"/functions/hid.usb*
    rmdir "$root/strings/0x409"
    rmdir "$root"
}

rename() {
    [ $# -eq 1 ] || die "usage: gadget.sh rename PRODUCT"
    [ -d "$root" ] || die "no gadget; run 'gadget.sh up' first"
    unplug
    echo "$1" >"$root/strings/0x409/product"
    plug
}

reserial() {
    [ $# -eq 1 ] || die "usage: gadget.sh reserial SERIAL"
    [ -d "$root" ] || die "no gadget; run 'gadget.sh up' first"
    unplug
    echo "$1" >"$root/strings/0x409/serialnumber"
    plug
}

# The report node of the first function: the character device whose numbers its "dev" names.
find_hidg() {
    local numbers node
    numbers=$(cat "$root/functions/hid.usb0/dev" 2>/dev/null) || die "no gadget function"
    for node in /sys/class/hidg/hidg*; do
        if [ "$(cat "$node/dev" 2>/dev/null)" = "$numbers" ]; then
            echo "/dev/$(basename "$node")"
            return 0
        fi
    done
    die "no report node with the numbers $numbers (is the gadget plugged?)"
}

# The USB port of the gadget's device on its host, "BUS-PORT" as the kernel names it.
find_port() {
    local node
    node=$(find_hidraw)
    [ -n "$node" ] || die "the gadget is not plugged"
    # .../usbB/B-P/B-P:1.0/0003:VVVV:PPPP.NNNN/hidraw/hidrawN: the interface's parent.
    basename "$(dirname "$(dirname "$(readlink -f "/sys/class/hidraw/${node#/dev/}/device")")")"
}

command=${1:-}
[ -n "$command" ] || die "usage: gadget.sh up|unplug|plug|rename PRODUCT|reserial SERIAL|hidraw|hidg|port|down"
shift
case "$command" in
up) up "$@" ;;
unplug) unplug ;;
plug) plug ;;
rename) rename "$@" ;;
reserial) reserial "$@" ;;
hidraw) find_hidraw ;;
hidg) find_hidg ;;
port) find_port ;;
down) down ;;
*) die "unknown command $command" ;;
esac
