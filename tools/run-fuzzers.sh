#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# run-fuzzers.sh BUILD_DIR SECONDS: runs every fuzz_* target for a bounded time each, starting
# from its seed corpus under tests/fuzz/corpus/<name> when there is one.
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
count=0
for bin in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$bin" ] || continue
    name=$(basename "$bin")
    work=$(mktemp -d)
    seeds=()
    [ -d "$root/tests/fuzz/corpus/$name" ] && seeds=("$root/tests/fuzz/corpus/$name")
    echo "fuzz: $name for ${seconds}s"
    "$bin" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=0 \
        "$work" "${seeds[@]}" >"$work.log" 2>&1 || {
        tail -n 60 "$work.log"
        echo "fuzz: $name FAILED"
        exit 1
    }
    rm -rf "$work" "$work.log"
    count=$((count + 1))
done
echo "fuzz: $count targets ran clean"
