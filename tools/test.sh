#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test: the fuzz targets for a short
# bounded time, then the unit and integration tests under ASan+UBSan, TSan and the optimised build.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/setup-debian.sh

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
jobs=${QX_JOBS:-$(nproc)}

echo "== fuzz =="
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash tools/run-fuzzers.sh build/fuzz "${QX_FUZZ_SECONDS:-15}"

for preset in asan tsan default; do
    echo "== $preset =="
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset"
done

# Lanes that need more than the build machine itself (a virtual machine, for instance) live in
# tools/lanes.d; each one decides on its own whether it can run here.
if [ -d tools/lanes.d ]; then
    for lane in tools/lanes.d/*.sh; do
        [ -f "$lane" ] || continue
        echo "== lane $(basename "$lane" .sh) =="
        bash "$lane"
    done
fi
