#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Wake-ups per second of each thread of a running process, and its processor use, over a span:
# a wake-up is a voluntary context switch, the thread going to sleep to be woken again. Processor
# use twice: from the process's clock ticks (10 ms apart, coarse for a program that runs a few
# milliseconds a second) and from the scheduler's count in nanoseconds of each thread there at the
# end (/proc/PID/task/TID/schedstat; a thread that ended during the span is not in it).
#
#   tools/vm/wakeups.sh PID [SECONDS]     (default 10 s)
set -uo pipefail
pid=$1
span=${2:-10}

# "tid name voluntary run_ns" for each thread. A few processes in all, however many threads
# there are (a process per file costs seconds under emulation); a thread that ends meanwhile is
# left out.
sample() {
    local tasks
    tasks=(/proc/"$pid"/task/*)
    {
        grep -s -H '' "${tasks[@]/%//comm}" | sed 's/^/comm /'
        grep -s -H '^voluntary_ctxt_switches:' "${tasks[@]/%//status}" | sed 's/^/status /'
        grep -s -H '' "${tasks[@]/%//schedstat}" | sed 's/^/schedstat /'
    } | awk '{
        # "KIND /proc/PID/task/TID/FILE:VALUE..."
        kind = $1
        sub(/^[a-z]+ /, "")
        split($0, path, "/")
        tid = path[5]
        value = substr($0, index($0, ":") + 1)
        if (kind == "comm") { gsub(/ /, "_", value); name[tid] = value }
        else if (kind == "status") { sub(/^[^0-9]*/, "", value); count[tid] = value + 0 }
        else { split(value, f, " "); run[tid] = f[1] + 0 }
    }
    END { for (tid in name) if (tid in count) printf "%s %s %d %.0f\n", tid, name[tid], count[tid], run[tid] }'
}

# User plus system clock ticks of the whole process.
ticks() {
    awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$pid/stat"
}

samples=$(mktemp -d)
trap 'rm -rf "$samples"' EXIT
sample >"$samples/before"
cpu_before=$(ticks)
start=$(date +%s.%N)
sleep "$span"
sample >"$samples/after"
cpu_after=$(ticks)
elapsed=$(echo "$(date +%s.%N) - $start" | bc -l 2>/dev/null || echo "$span")
hz=$(getconf CLK_TCK)

awk -v elapsed="$elapsed" -v cpu=$((cpu_after - cpu_before)) -v hz="$hz" '
    NR == FNR { was[$1] = $3; ran[$1] = $4; next }
    { run_ns += $4 - (($1 in ran) ? ran[$1] : 0) }
    ($1 in was) {
        rate = ($3 - was[$1]) / elapsed
        by[$2] += rate
        threads[$2]++
        each[$2] = each[$2] sprintf("%s:%.1f ", $1, rate)
        all += rate
    }
    END {
        # A thread named by nobody carries the name of the thread that started it: such
        # threads are summed under that name and, where there are several, also shown one by one.
        for (name in by) {
            printf "wake-ups: %-16s %6.1f per second", name, by[name]
            if (threads[name] > 1) printf "  (%d threads, thread id:rate %s)", threads[name], each[name]
            printf "\n"
        }
        printf "wake-ups: %-16s %6.1f per second\n", "all threads", all
        printf "cpu: %.2f %% of a core over %.1f s\n", cpu / hz / elapsed * 100, elapsed
        printf "cpu, scheduler'"'"'s count: %.2f %% of a core\n", run_ns / 1e9 / elapsed * 100
    }' "$samples/before" "$samples/after"
