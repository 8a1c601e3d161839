#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: the HID library's scan of one gadget with four HID functions (the
# unit's reports twice, another maker's unnumbered reports, numbered reports with a feature
# report). The table must equal the one a scan that opens every node gives, for root and for a
# user who may open only one node (through an ACL); then the scan is timed against hidapi's.
#
#   tools/vm/scan.sh BUILD_DIR     (BUILD_DIR holds tests/vm/vm_scan and hidlib/HID_Lib.so)
#
# QX_VM_SCAN_ALSO: more modules to time in the same run (a space-separated list of paths).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
scan=$build/tests/vm/vm_scan
e2e=$build/tests/vm/vm_link_e2e
module=$build/hidlib/HID_Lib.so
gadget=$here/gadget.sh
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

nodes() {
    ls /dev/hidraw* 2>/dev/null | wc -l
}
unnumbered=$("$e2e" descriptor unnumbered)
numbered=$("$e2e" descriptor numbered)
"$gadget" up --also "$unnumbered" --also "$numbered" --also unit >/dev/null
check $? "gadget with four HID functions up"
for _ in $(seq 100); do
    [ "$(nodes)" -ge 4 ] && break
    sleep 0.1
done
udevadm settle --timeout=30 >/dev/null 2>&1
[ "$(nodes)" -ge 4 ]
check $? "four hidraw nodes: $(ls /dev/hidraw* 2>/dev/null | tr '\n' ' ')"

"$scan" check "$module"
check $? "the table as root equals the opening scan's"

# Another user may open only the node it has an ACL entry for.
nobody=65534
acl_node=$(ls /dev/hidraw* | sed -n 2p)
if command -v setfacl >/dev/null; then
    setfacl -m "u:$nobody:rw" "$acl_node"
    check $? "ACL on $acl_node for user $nobody"
fi
setpriv --reuid=$nobody --regid=$nobody --clear-groups "$scan" check "$module"
check $? "the table as user $nobody equals the opening scan's"

# shellcheck disable=SC2086 # a list of paths
"$scan" bench --calls "${QX_VM_SCAN_CALLS:-200}" "$module" ${QX_VM_SCAN_ALSO:-}
check $? "scan timed"
"$gadget" down
exit "$status"
