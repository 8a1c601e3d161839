#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: everything the vm lane checks, in one boot. The round-trip proof first
# (the gadget's raw paths), then the program's link and the HID library end to end, then the
# program itself (with the scan's table and timing before it), then its command line, then four
# units at once, then an update cut off by SIGKILL and finished through the recovery offer, then
# the headless monitor keeping watch (alarms raised and cleared, the event log), and the command line as built
# for Windows under Wine when the lane made it (QX_VM_WINE_BUILD, QX_VM_WINE_PREFIX).
#
#   tools/vm/lane-job.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
status=0

part() {
    local name=$1 start=$SECONDS
    shift
    echo "==== $name"
    "$@"
    local result=$?
    echo "==== $name: $([ "$result" = 0 ] && echo passed || echo "FAILED ($result)") in $((SECONDS - start)) s"
    [ "$result" = 0 ] || status=1
}

part "round-trip proof" "$here/proof.sh" "$build/tests/vm/vm_hid_roundtrip"
part "end to end" "$here/e2e.sh" "$build"
part "scan" "$here/scan.sh" "$build"
part "the program" "$here/program.sh" "$build"
part "the command line" "$here/cli.sh" "$build"
part "four units" "$here/units.sh" "$build"
part "kill and recover" "$here/recover.sh" "$build"
part "the monitor" "$here/monitor.sh" "$build"
if [ -n "${QX_VM_WINE_PREFIX:-}" ]; then
    part "the command line under Wine" "$here/wine.sh" "$build" "$QX_VM_WINE_BUILD" "$QX_VM_WINE_PREFIX"
fi
exit "$status"
