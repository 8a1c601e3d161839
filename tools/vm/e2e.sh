#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: the unit's udev rule, how tools/run.sh tells the unit, the program's
# link against the unit's gadget with the gadget unit answering, and the HID library against two
# gadgets of another maker.
#
#   tools/vm/e2e.sh BUILD_DIR     (BUILD_DIR holds vm_link_e2e and qx_gadget_unit)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
build=$1
e2e=$build/tests/vm/vm_link_e2e
unit=$build/unit/gadget/qx_gadget_unit
gadget=$here/gadget.sh
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

# uaccess as the rule gives it: in TAGS (ever set) and CURRENT_TAGS (set by the latest event).
check_uaccess() {
    local want=$1 what=$2 node props tags current has=no
    node=$("$gadget" hidraw)
    props=$(udevadm info --query=property --name="$node" 2>&1)
    tags=$(sed -n 's/^TAGS=//p' <<<"$props")
    current=$(sed -n 's/^CURRENT_TAGS=//p' <<<"$props")
    if [[ "$tags" == *:uaccess:* && "$current" == *:uaccess:* ]]; then
        has=yes
    fi
    [ "$has" = "$want" ]
    check $? "$what: uaccess tag on $node is '$has' (TAGS=$tags CURRENT_TAGS=$current)"
}

# What tools/run.sh decides from: the unit's node when a unit is plugged in, else nothing.
check_run_choice() {
    local want=$1 what=$2 found
    found=$(bash "$repo/tools/unit-present.sh")
    [ "$found" = "$want" ]
    check $? "tools/run.sh with $what: unit node '$found', wanted '$want'"
}

echo "---- udev rule app/linux/70-qx77zt.rules"
mkdir -p /run/udev/rules.d
cp "$repo/app/linux/70-qx77zt.rules" /run/udev/rules.d/
udevadm control --reload
check $? "rule installed in /run/udev/rules.d and udev reloaded"

"$gadget" up --out-endpoint >/dev/null
check $? "unit's gadget up"
check_uaccess yes "the unit"
check_run_choice "$("$gadget" hidraw)" "the unit plugged in"

memory=$(mktemp -d)
"$e2e" unit --gadget "$gadget" --unit-program "$unit" --memory-dir "$memory"
check $? "vm_link_e2e unit"
rm -rf "$memory"

for kind in unnumbered numbered; do
    descriptor=$("$e2e" descriptor "$kind")
    "$gadget" up --manufacturer ACME-HID --product "HID test $kind" --serial "T-$kind" \
        --descriptor "$descriptor" >/dev/null
    check $? "foreign gadget with $kind reports up"
    check_uaccess no "another maker's device"
    check_run_choice "" "only another maker's device"
    "$e2e" foreign "$kind"
    check $? "vm_link_e2e foreign $kind"
done
"$gadget" down
exit "$status"
