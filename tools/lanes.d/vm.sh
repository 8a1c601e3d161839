#!/usr/bin/env bash
# Real-kernel lane: boots a Debian kernel under qemu (tools/vm/run-in-vm.sh), makes the unit a USB
# HID gadget there (tools/vm/gadget.sh) and runs the round-trip proof against the kernel's own
# hidraw node. Skips, and passes, only on a machine that cannot run the virtual machine at all.
#
# QX_VM_FAULT=wrong-manufacturer makes the gadget give another manufacturer: the lane must fail.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1

lane_start=$(date +%s)
took() { echo "vm lane: took $(($(date +%s) - lane_start)) s"; }
skip() {
    echo "vm lane skipped: $*"
    took
    exit 0
}
fail() {
    echo "vm lane FAILED: $*"
    took
    exit 1
}

# Limits for an otherwise idle CI machine, where the machine boots in about 10 s and the proof
# takes under a minute; both are several times that, and the lane stays under 10 minutes.
command_limit=${QX_VM_COMMAND_LIMIT:-180}
export QX_VM_BOOT_MARGIN=${QX_VM_BOOT_MARGIN:-180}

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
kernels=$(ls /boot/vmlinuz-* 2>/dev/null) || skip "no kernel image in /boot"
for k in $kernels; do
    [ -r "$k" ] || skip "$k is not readable by $(id -un)"
done

echo "vm lane: building the proof"
if ! { cmake --preset default >/dev/null && cmake --build --preset default \
    --target vm_hid_roundtrip; }; then
    fail "build of vm_hid_roundtrip failed"
fi
proof=build/default/tests/vm/vm_hid_roundtrip
[ -x "$proof" ] || fail "$proof was not built"

results=build/vm/lane
output=$(mktemp)
trap 'rm -f "$output"' EXIT
tools/vm/run-in-vm.sh --timeout "$command_limit" --results "$results" -- \
    tools/vm/proof.sh "$proof" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}

case "$status" in
0) ;;
125) skip "$(sed -n 's/^vm: cannot boot: //p' "$output" | tail -n 1)" ;;
124) fail "the virtual machine hit its time limit (console in $results/console.log)" ;;
*) fail "the proof exited with $status (console in $results/console.log)" ;;
esac
echo "vm lane: passed"
took
