#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Real-kernel lane: boots a Debian kernel under qemu (tools/vm/run-in-vm.sh), makes the unit a USB
# HID gadget there (tools/vm/gadget.sh) and, in that one boot (tools/vm/lane-job.sh), runs the
# round-trip proof against the kernel's own hidraw node and the end-to-end tests: the program's
# link through the real HID library module against the gadget unit, the library against gadgets
# of another maker, and the unit's udev rule; then the library's scan (its table against one that
# opens every node, its time against hidapi's) and the program itself (wake-ups, processor use,
# one rescan per plug), its command line, four units at once (each polled, a write and an update
# reaching one only, one replugged; wake-ups and processor use with one, two and four, and the
# time from an answer to the meters drawn), and the command line as built for Windows under Wine
# (left out, and said so, where mingw-w64 or Wine is missing). Skips, and passes, only on a machine
# that cannot run the virtual machine at all.
#
# QX_VM_BUILD_DIR: the build folder to build and run from (default build/default, through the
# default preset). QX_VM_FAULT=wrong-manufacturer makes the gadget give another manufacturer: the
# lane must fail.
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

# Limits for an otherwise idle CI machine, where the machine boots in about 10 s and the checks in
# it take about two minutes (seven on a busy two-core machine, with the scan, the program's
# measurements, the four units and Wine); both are several times that, and the lane stays under
# 15 minutes.
command_limit=${QX_VM_COMMAND_LIMIT:-720}
export QX_VM_BOOT_MARGIN=${QX_VM_BOOT_MARGIN:-180}

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed"
kernels=$(ls /boot/vmlinuz-* 2>/dev/null) || skip "no kernel image in /boot"
for k in $kernels; do
    [ -r "$k" ] || skip "$k is not readable by $(id -un)"
done

build=${QX_VM_BUILD_DIR:-build/default}
targets=(vm_hid_roundtrip vm_link_e2e vm_scan HID_Lib qx_gadget_unit QX_77ZT qx77zt mkorbu vm_update_window
    vm_program_probe)
echo "vm lane: building ${targets[*]} in $build"
if [ "$build" = build/default ]; then
    configure=(cmake --preset default)
    compile=(cmake --build --preset default --target "${targets[@]}")
else
    configure=(cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    compile=(cmake --build "$build" -j2 --target "${targets[@]}")
fi
if [ ! -f "$build/CMakeCache.txt" ] || [ "$build" = build/default ]; then
    "${configure[@]}" >/dev/null || fail "configuring $build failed"
fi
"${compile[@]}" || fail "build of ${targets[*]} failed"
for program in tests/vm/vm_hid_roundtrip tests/vm/vm_link_e2e tests/vm/vm_scan unit/gadget/qx_gadget_unit app/QX_77ZT \
    cli/qx77zt tools/mkorbu/mkorbu tests/vm/vm_update_window tests/vm/vm_program_probe; do
    [ -x "$build/$program" ] || fail "$build/$program was not built"
done

# The Windows build of the command line and a Wine prefix for it, made here where it takes seconds
# rather than in the machine; the machine lays a writable layer over it. winebus's SDL bus is off,
# or Wine lists no hidraw device.
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ ! -x "$wine" ]; then
    echo "vm lane: the Wine run is left out: mingw-w64 or wine64 is not installed"
else
    echo "vm lane: building vm_cli_wine in build/windows"
    { cmake --preset windows >/dev/null && cmake --build --preset windows --target vm_cli_wine; } ||
        fail "build of vm_cli_wine failed"
    prefix=$PWD/build/vm/wineprefix
    made="$("$wine" --version) SDL off"
    if [ "$(cat "$prefix/.qx-made" 2>/dev/null)" != "$made" ]; then
        rm -rf "$prefix"
        # Wine makes the prefix itself but not the folders above it.
        mkdir -p "$(dirname "$prefix")"
        wine_log=$(dirname "$prefix")/wineprefix.log
        WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" reg add \
            'HKLM\System\CurrentControlSet\Services\winebus' /v "Enable SDL" /t REG_DWORD /d 0 \
            /f >"$wine_log" 2>&1
        # The registry reaches the disk when the server ends.
        WINEPREFIX=$prefix "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -w
        if ! grep -q '"Enable SDL"=dword:00000000' "$prefix/system.reg" 2>/dev/null; then
            cat "$wine_log"
            fail "could not make the Wine prefix in $prefix"
        fi
        echo "$made" >"$prefix/.qx-made"
    fi
    export QX_VM_WINE_BUILD=build/windows QX_VM_WINE_PREFIX=$prefix
fi

results=build/vm/lane-$(basename "$build")
output=$(mktemp)
trap 'rm -f "$output"' EXIT
tools/vm/run-in-vm.sh --timeout "$command_limit" --results "$results" -- \
    tools/vm/lane-job.sh "$build" 2>&1 | tee "$output"
status=${PIPESTATUS[0]}

case "$status" in
0) ;;
125) skip "$(sed -n 's/^vm: cannot boot: //p' "$output" | tail -n 1)" ;;
124) fail "the virtual machine hit its time limit (console in $results/console.log)" ;;
*) fail "checks in the machine failed, status $status (console in $results/console.log)" ;;
esac
echo "vm lane: passed"
took
