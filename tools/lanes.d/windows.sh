#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Windows lane: compiles the window program for Windows (without linking it), cross-builds the
# HID library, its core's tests and qx77zt.exe with mingw-w64 (the `windows` preset), checks the
# DLL's export table, runs the tests under Wine (on a display of Xvfb's) and then qx77zt.exe
# itself, on this machine and without a device. Skips, and passes, where the cross compiler or
# Wine is missing.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1

lane_start=$(date +%s)
took() { echo "windows lane: took $(($(date +%s) - lane_start)) s"; }

for tool in x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump; do
    if ! command -v "$tool" >/dev/null; then
        echo "windows lane skipped: $tool is not installed"
        took
        exit 0
    fi
done
# The window program compiled for Windows (not linked: no Qt for Windows here).
syntax=0
tools/windows-qt-check.sh "${QX_JOBS:-$(nproc)}" || syntax=1
if ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; then
    echo "windows lane: the rest skipped: wine64 is not installed"
    took
    exit $syntax
fi

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEDEBUG=-all WINEPREFIX="$PWD/build/windows/wineprefix" WINEDLLOVERRIDES="mscoree,mshtml="

# qx77zt.exe as a user runs it, from a folder of its own: help, a list without a unit, and the
# carried library written to the user's private folder (never beside the program or the current
# folder).
check_exe() {
    local exe="$PWD/build/windows/cli/qx77zt.exe" out rc
    local private=("$WINEPREFIX"/drive_c/users/*/AppData/Local/qx77zt/lib)
    rm -rf "${private[@]}"
    local here
    here=$(mktemp -d)
    out=$(cd "$here" && "$wine" "$exe" --help)
    rc=$?
    if [ $rc -ne 0 ] || ! grep -Eq "^usage: qx77zt (\[--demo\] )?COMMAND" <<<"$out"; then
        echo "qx77zt.exe --help: exit $rc"
        return 1
    fi
    # The run-time writes its lines the Windows way, ending in CR LF.
    out=$(cd "$here" && "$wine" "$exe" list 2>&1)
    rc=$?
    out=${out//$'\r'/}
    if [ $rc -ne 3 ] || [ "$out" != "qx77zt: no QX-77ZT unit found" ]; then
        echo "qx77zt.exe list: exit $rc (3 expected): $out"
        return 1
    fi
    local dlls=("$WINEPREFIX"/drive_c/users/*/AppData/Local/qx77zt/lib/HID_Lib-*.dll)
    if [ ! -f "${dlls[0]}" ] || [ -n "$(ls -A "$here")" ]; then
        echo "qx77zt.exe list: the HID library is not in the private folder alone"
        return 1
    fi
    # The report as Windows gives it: the system's version, the library mapped from the private
    # folder, and what it does not check.
    out=$(cd "$here" && "$wine" "$exe" diag 2>&1)
    rc=$?
    out=${out//$'\r'/}
    local line
    for line in "  Image: embedded, [0-9]+ bytes, build id not read on Windows" "  Windows: [0-9]+\.[0-9]+ build [0-9]+" "  HID class driver: not checked by this report" \
        "  Mapped as: .*AppData.Local.qx77zt.lib.HID_Lib-[0-9a-f]+\.dll at 0x" "  Unit node: no device of "; do
        if ! grep -Eq "^$line" <<<"$out"; then
            echo "qx77zt.exe diag: exit $rc, no line like \"$line\":"
            echo "$out"
            return 1
        fi
    done
    if [ $rc -ne 0 ]; then
        echo "qx77zt.exe diag: exit $rc (0 expected)"
        return 1
    fi
    rmdir "$here"
    echo "qx77zt.exe: help, list without a unit (exit 3), diag, library in ${dlls[0]#"$WINEPREFIX"/}"
}

server=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# A display for Wine: without one Wine makes windows but delivers nothing to them the way the
# system does (a broadcast waits for no window), and the library's window for device changes
# would go untested. Xvfb picks a free display number itself (-displayfd), so lanes starting side
# by side never race for one.
xvfb_pid=
trap 'stop_display' EXIT
start_display() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    if ! command -v Xvfb >/dev/null; then
        echo "windows lane: no Xvfb; tests that need a display are skipped"
        return 0
    fi
    local number
    number=$(mktemp)
    Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$number" >/dev/null 2>&1 &
    xvfb_pid=$!
    local waited=0
    while [ ! -s "$number" ] && [ $waited -lt 100 ] && kill -0 "$xvfb_pid" 2>/dev/null; do
        sleep 0.1
        waited=$((waited + 1))
    done
    if [ -s "$number" ]; then
        DISPLAY=":$(head -n1 "$number")"
        export DISPLAY
    else
        echo "windows lane: Xvfb did not start"
        stop_display
    fi
    rm -f "$number"
    [ -n "${DISPLAY:-}" ]
}
stop_display() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    fi
}
# The prefix is made once before the tests run side by side: two Wine processes that both find it
# missing race to make it, and one of them fails.
make_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    "$wine" wineboot --init >"$WINEPREFIX.log" 2>&1
    "$server" -w
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        cat "$WINEPREFIX.log"
        echo "could not make the Wine prefix in $WINEPREFIX"
        return 1
    fi
}

status=$syntax
# A server left from a run with another display (or none) would keep that one.
"$server" -k 2>/dev/null || true
cmake --preset windows >/dev/null &&
    cmake --build --preset windows -j "${QX_JOBS:-$(nproc)}" &&
    start_display && make_prefix && ctest --preset windows && check_exe || status=1
# Wine leaves its server behind for a few seconds; end it so that the run does not wait on it.
"$server" -k 2>/dev/null || true
stop_display
took
[ $status -eq 0 ] || echo "windows lane FAILED"
exit $status
