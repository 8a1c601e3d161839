#!/usr/bin/env bash
# Windows lane: cross-builds the HID library and its core's tests with mingw-w64 (the `windows`
# preset), checks the DLL's export table and runs the tests under Wine, on this machine and
# without a device. Skips, and passes, where the cross compiler or Wine is missing.
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
if ! command -v wine64 >/dev/null && [ ! -x /usr/lib/wine/wine64 ]; then
    echo "windows lane skipped: wine64 is not installed"
    took
    exit 0
fi

status=0
cmake --preset windows >/dev/null &&
    cmake --build --preset windows -j "${QX_JOBS:-$(nproc)}" &&
    ctest --preset windows || status=1
# Wine leaves its server behind for a few seconds; end it so that the run does not wait on it.
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
WINEPREFIX="$PWD/build/windows/wineprefix" "$server" -k 2>/dev/null || true
took
[ $status -eq 0 ] || echo "windows lane FAILED"
exit $status
