#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds every preset and runs every test: the fuzz targets for a short
# bounded time, the unit and integration tests under ASan+UBSan and TSan, the lanes that need more
# than this machine (a virtual machine with a real kernel), and last the optimised build's tests,
# so that the run ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

bash tools/setup-debian.sh

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Let the compiler cache hit across checkouts in different folders (CI builds a fresh clone).
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
jobs=${QX_JOBS:-$(nproc)}

stage() { echo "== $1 ($(($(date +%s) - start)) s) =="; }

stage fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
bash tools/run-fuzzers.sh build/fuzz "${QX_FUZZ_SECONDS:-15}"

for preset in asan tsan; do
    stage "$preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset"
done

stage default
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"

# Lanes that need more than the build machine itself decide on their own whether they can run.
if [ -d tools/lanes.d ]; then
    for lane in tools/lanes.d/*.sh; do
        [ -f "$lane" ] || continue
        stage "lane $(basename "$lane" .sh)"
        bash "$lane"
    done
fi

stage "default tests"
ctest --preset default
