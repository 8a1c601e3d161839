#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Inside the test machine: four units at once, each a gadget on a controller pair of its own with
# its own serial number and a gadget unit behind it, driven by the program itself (QX_77ZT, its
# windows on the offscreen platform). Plugged in one after another, the program's wake-ups and
# processor use are measured with one, two and four units, and each unit's status requests (as its
# gadget unit counts them) over the same span. Then: a write handed to the program for one unit
# lands on that one only; an update of one goes on while the other three keep being polled; one
# unplugged and plugged back reconnects while the others are polled on; and two units with the
# same serial number, told apart by their port, are both polled. Last, from the times the gadget
# unit sent its answers and those the program drew its meters, the time from an answer of the
# unit shown to its meters drawn, with one unit and with four.
#
#   tools/vm/units.sh BUILD_DIR     (BUILD_DIR holds tests/vm/vm_program_probe, cli/qx77zt,
#                                    tools/mkorbu/mkorbu and unit/gadget/qx_gadget_unit)
#
# The program run is vm_program_probe: QX_77ZT itself, which also notes when its meters were
# drawn. QX_VM_UNITS_SPAN: seconds of each measurement (default 5). QX_VM_PROGRAM: another build
# of the program to run instead (no drawing times then).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
program=${QX_VM_PROGRAM:-$build/tests/vm/vm_program_probe}
cli=$build/cli/qx77zt
unit=$build/unit/gadget/qx_gadget_unit
mkorbu=$build/tools/mkorbu/mkorbu
gadget=$here/gadget.sh
span=${QX_VM_UNITS_SPAN:-5}
# shellcheck source=tools/vm/checks.sh
. "$here/checks.sh"

serials=(QXVM0100 QXVM0101 QXVM0102 QXVM0103)
unit_pids=()
program_pid=
spans=()
work=$(mktemp -d)
mkdir -p "$work/runtime"
chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime QX77ZT_RUNTIME_DIR=$work/runtime XDG_STATE_HOME=$work/state
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    kill "$program_pid" "${unit_pids[@]}" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# gadget_of N ARGS...: gadget.sh for unit N.
gadget_of() {
    local n=$1
    shift
    QX_GADGET_INDEX=$n "$gadget" "$@"
}

# Makes the gadgets of the units named, at the same time, and starts their gadget units.
plug_units() {
    local n hidg
    local -A making=()
    for n in "$@"; do
        gadget_of "$n" up --out-endpoint --serial "${serials[$n]}" >/dev/null &
        making[$n]=$!
    done
    for n in "$@"; do
        wait "${making[$n]}"
        check $? "unit $n: gadget up with serial ${serials[$n]} on $(gadget_of "$n" port) (at $SECONDS s)"
    done
    for n in "$@"; do
        start_unit "$n"
    done
}
start_unit() {
    local n=$1 hidg
    hidg=$(gadget_of "$n" hidg)
    mkdir -p "$work/unit$n"
    QX_GADGET_INDEX=$n "$unit" --gadget "$gadget" --memory-dir "$work/unit$n" --hidg "$hidg" \
        --levels programme 2>"$work/unit$n.log" &
    unit_pids[n]=$!
    unit_pid=${unit_pids[n]} within 10 unit_takes_signals
    check $? "unit $n: gadget unit started behind $hidg"
}

# Asks gadget unit N to write what it holds into its folder.
dump() {
    local n=$1
    rm -f "$work/unit$n/requests.txt"
    kill -HUP "${unit_pids[n]}" 2>/dev/null && within 10 test -e "$work/unit$n/requests.txt"
}
# How many status requests (command 00) gadget unit N has answered so far.
status_requests() {
    dump "$1" || return 1
    awk '$1 == "00" { n = $2 } END { print n + 0 }' "$work/unit$1/requests.txt"
}
# "TIME c0 c1 ...": the status request counts of units 0 to N-1, all asked for at once at TIME
# (nanoseconds since the epoch); -1 for a unit that did not answer.
counts() {
    local n c time line=
    for ((n = 0; n < $1; n++)); do
        rm -f "$work/unit$n/requests.txt"
    done
    time=$(date +%s%N)
    for ((n = 0; n < $1; n++)); do
        kill -HUP "${unit_pids[n]}" 2>/dev/null
    done
    for ((n = 0; n < $1; n++)); do
        if within 10 test -e "$work/unit$n/requests.txt"; then
            c=$(awk '$1 == "00" { n = $2 } END { print n + 0 }' "$work/unit$n/requests.txt")
        else
            c=-1
        fi
        line+=" $c"
    done
    echo "$time$line"
}
# shellcheck disable=SC2317 # called through within
polled_beyond() { # N COUNT
    local now
    now=$(status_requests "$1") && [ "$now" -gt "$2" ]
}
# shellcheck disable=SC2317 # called through within
program_gone() { ! kill -0 "$program_pid" 2>/dev/null; }
# shellcheck disable=SC2317 # called through within
listed() { # the list has N lines naming a unit
    "$cli" list >"$work/list.txt" 2>&1 && [ "$(grep -c 'serial ' "$work/list.txt")" = "$1" ]
}

# Requests each unit's gadget answered per second between two `counts` lines.
rates() { # BEFORE AFTER
    awk -v before="$1" -v after="$2" 'BEGIN {
        n = split(before, b, " "); split(after, a, " ")
        seconds = (a[1] - b[1]) / 1e9
        for (i = 2; i <= n; i++) printf "%s%.1f", (i > 2 ? " " : ""), (a[i] - b[i]) / seconds
        printf "\n"
    }'
}
# Seconds between two `counts` lines.
between() { # BEFORE AFTER
    awk -v before="${1%% *}" -v after="${2%% *}" 'BEGIN { printf "%.1f", (after - before) / 1e9 }'
}
# Whether every rate is at least LEAST.
all_at_least() { # RATES LEAST
    awk -v rates="$1" -v least="$2" 'BEGIN {
        n = split(rates, r, " ")
        for (i = 1; i <= n; i++) if (r[i] + 0 < least) exit 1
        exit 0
    }'
}

now_ns() { date +%s%N; }
# A heading, with the seconds this script has taken so far.
section() { echo "---- $1 (at $SECONDS s)"; }

# measure N: the program's wake-ups and processor use with N units plugged in, and each unit's
# status requests per second over the same span. The unit is polled ten times a second; the check
# leaves room for a busy machine.
measure() {
    local n=$1 before after r
    before=$(counts "$n")
    section "connected and polling $n unit(s)"
    spans[n]="$(now_ns) "
    "$here/wakeups.sh" "$program_pid" "$span" | tee "$work/wakeups$n.txt" | sed "s/^/units $n: /"
    spans[n]+=$(now_ns)
    after=$(counts "$n")
    r=$(rates "$before" "$after")
    echo "units $n: status requests per second, unit by unit: $r"
    all_at_least "$r" 6
    check $? "with $n unit(s) each is polled near its 10 per second: $r"
}

# For each answer of ANSWERS sent between FROM and TO (nanoseconds), the time to the first paint
# of PAINTS after it, when that came before the next answer: "median, 90th percentile, largest in
# ms, and of how many answers", or nothing. An answer that left the levels as they were is not
# drawn again.
answer_to_drawn() { # ANSWERS PAINTS FROM TO
    local answers
    answers=$(awk -v from="$3" -v to="$4" '
        FNR == NR { a[na++] = $1; next }
        { p[np++] = $1 }
        END {
            j = 0
            for (i = 0; i + 1 < na; i++) {
                if (a[i] < from || a[i] > to) continue
                answers++
                while (j < np && p[j] < a[i]) j++
                if (j < np && p[j] < a[i + 1]) print (p[j] - a[i]) / 1e6 >"/dev/stderr"
            }
            print answers + 0
        }' "$1" "$2" 2>"$work/delays.txt")
    sort -n "$work/delays.txt" | awk -v answers="$answers" '
        { d[n++] = $1 }
        END {
            if (n == 0) exit 1
            printf "median %.1f ms, 90th percentile %.1f ms, largest %.1f ms (%d of %d answers drawn before the next)\n", d[int((n - 1) / 2)], d[int((n - 1) * 0.9)], d[n - 1], n, answers
        }'
}

# --- One unit, then two, then four ------------------------------------------------------------

plug_units 0
QT_QPA_PLATFORM=offscreen QX_VM_PAINT_TIMES=$work/paints.txt "$program" >"$work/program.log" 2>&1 &
program_pid=$!
within 60 polled_beyond 0 10
check $? "the program connects and polls unit 0: $(status_requests 0) requests (at $SECONDS s)"
measure 1

plug_units 1
within 60 polled_beyond 1 10
check $? "the program connects unit 1 as well and polls it: $(status_requests 1) requests (at $SECONDS s)"
measure 2

plug_units 2 3
within 60 polled_beyond 3 10 && within 30 polled_beyond 2 10
check $? "the program connects units 2 and 3 as well and polls them: $(counts 4 | cut -d' ' -f2-) requests (at $SECONDS s)"

nodes=$(for n in 0 1 2 3; do gadget_of "$n" hidraw; done | sort -u | wc -l)
found=$(for node in /sys/class/hidraw/hidraw*; do
    grep -q '^HID_ID=0003:00001209:00000001$' "$node/device/uevent" 2>/dev/null &&
        sed -n 's/^HID_UNIQ=//p' "$node/device/uevent"
done | sort | tr '\n' ' ')
[ "$nodes" = 4 ] && [ "$found" = "${serials[*]} " ]
check $? "the kernel has four hidraw nodes of the unit, serials $found"
listed 4
check $? "qx77zt list shows four units: $(tr '\n' '|' <"$work/list.txt")"
measure 4

# --- A write to one lands on that one only ----------------------------------------------------

section "a write to unit 2"
for n in 0 1 2 3; do
    dump "$n" && cp "$work/unit$n/settings.bin" "$work/settings$n.before"
done
"$cli" set --serial "${serials[2]}" preset=4 "source.right=ANALOG L" >"$work/set.out" 2>&1
code=$?
check "$code" "qx77zt set --serial ${serials[2]} preset=4, handed to the program: exit status $code $(cat "$work/set.out")"
dump 2 && [ "$(od -An -tu1 -N1 "$work/unit2/settings.bin" | tr -d ' ')" = 3 ]
check $? "unit 2 holds preset 4"
unchanged=yes
for n in 0 1 3; do
    dump "$n" && cmp -s "$work/settings$n.before" "$work/unit$n/settings.bin" || unchanged="no (unit $n)"
done
[ "$unchanged" = yes ]
check $? "the other three units' settings memories are unchanged: $unchanged"

# --- An update of one while the others keep being polled --------------------------------------

section "an update of unit 3"
# 80 flash blocks, each followed by its pause: several seconds of transfer.
head -c 40960 /dev/urandom >"$work/flash.bin"
head -c 1000 /dev/urandom >"$work/eeprom.bin"
"$mkorbu" --name "QX-77ZT " --flash "$work/flash.bin" --eeprom "$work/eeprom.bin" \
    -o "$work/fw.orbu" >/dev/null
check $? "package of 40960 flash and 1000 EEPROM bytes made"
kill -USR1 "${unit_pids[3]}"
# shellcheck disable=SC2317 # called through within
in_boot_mode() { "$cli" list 2>/dev/null | grep "${serials[3]}" | grep -q "boot mode"; }
within 30 in_boot_mode
check $? "unit 3 restarted in its boot loader"
before=$(counts 3)
"$cli" update --serial "${serials[3]}" "$work/fw.orbu" >"$work/update.out" 2>&1
code=$?
after=$(counts 3)
check "$code" "qx77zt update --serial ${serials[3]}, handed to the program: exit status $code, $(tail -n 1 "$work/update.out")"
dump 3 && cmp -n 40960 "$work/flash.bin" "$work/unit3/flash.bin" &&
    cmp -n 1000 "$work/eeprom.bin" "$work/unit3/eeprom.bin"
check $? "the update landed in unit 3 byte for byte"
r=$(rates "$before" "$after")
echo "units 4: during unit 3's update ($(between "$before" "$after") s), status requests per second of units 0 to 2: $r"
all_at_least "$r" 6
check $? "units 0 to 2 are polled on during unit 3's update: $r"
kill -USR2 "${unit_pids[3]}"
now=$(status_requests 3)
within 30 polled_beyond 3 "$((now + 10))"
check $? "unit 3 back in normal mode is polled again"

# --- One unplugged and plugged back ----------------------------------------------------------

section "unit 1 unplugged and plugged back"
before=$(counts 4)
gadget_of 1 unplug >/dev/null
check $? "unit 1 unplugged"
sleep 2
gadget_of 1 plug >/dev/null
check $? "unit 1 plugged back"
now=$(status_requests 1)
within 30 polled_beyond 1 "$((now + 10))"
check $? "unit 1 reconnects and is polled again: $(status_requests 1) requests"
after=$(counts 4)
r=$(rates "$before" "$after")
echo "units 4: across unit 1's unplug and plug ($(between "$before" "$after") s), status requests per second: $r"
r=$(echo "$r" | awk '{ print $1, $3, $4 }')
all_at_least "$r" 6
check $? "units 0, 2 and 3 are polled on meanwhile: $r"

# --- Two units with the same serial number ---------------------------------------------------

section "two units of one serial"
gadget_of 3 reserial "${serials[2]}" >/dev/null
check $? "unit 3 plugged back with unit 2's serial ${serials[2]}"
places="$(gadget_of 2 port) $(gadget_of 3 port)"
[ "$(gadget_of 2 port)" != "$(gadget_of 3 port)" ]
check $? "the kernel tells them apart by their ports: $places"
within 30 listed 4
check $? "qx77zt list still shows four units: $(tr '\n' '|' <"$work/list.txt")"
now=$(counts 4)
sleep 3
r=$(rates "$now" "$(counts 4)")
echo "units 4: two with the same serial, status requests per second: $r"
all_at_least "$r" 6
check $? "all four are polled, both of the same serial among them: $r"

# --- The end ---------------------------------------------------------------------------------

section "the end"
kill -0 "$program_pid" 2>/dev/null
check $? "the program still runs"
kill -TERM "$program_pid"
within 20 program_gone
wait "$program_pid"
code=$?
check "$code" "the program ends cleanly when the session ends it (SIGTERM): exit status $code"
! grep -E "Sanitizer|runtime error|QThread: Destroyed" "$work/program.log"
check $? "nothing alarming on the program's output"
program_pid=
if [ "$status" != 0 ]; then
    echo "---- program output"
    cat "$work/program.log"
fi

for n in 0 1 2 3; do
    kill -TERM "${unit_pids[n]}"
    wait "${unit_pids[n]}"
    check $? "gadget unit $n ended cleanly"
    gadget_of "$n" down
done
unit_pids=()

# Four units against one, and two against one: all threads' wake-ups and processor use.
cost() { # N
    awk '/^wake-ups: all threads/ { w = $4 } /^cpu, scheduler/ { c = $4 } END { print w, c }' "$work/wakeups$1.txt" 2>/dev/null
}
read -r w1 c1 <<<"$(cost 1)"
for n in 2 4; do
    read -r wn cn <<<"$(cost "$n")"
    awk -v n="$n" -v w1="$w1" -v c1="$c1" -v wn="$wn" -v cn="$cn" 'BEGIN {
        if (w1 > 0 && c1 > 0) printf "units %d against 1: wake-ups %.2f times, processor use %.2f times\n", n, wn / w1, cn / c1 }'
done

if [ -s "$work/paints.txt" ]; then
    echo "---- from an answer of unit 0 (shown) to its meters drawn"
    for n in 1 4; do
        # shellcheck disable=SC2086 # two numbers
        echo "units $n: answer to drawn: $(answer_to_drawn "$work/unit0/answers.txt" "$work/paints.txt" ${spans[n]} ||
            echo "no answer drawn")"
    done
fi
exit "$status"
