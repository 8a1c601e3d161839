# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the scripts that run checks inside the test machine: `check STATUS WHAT` prints one
# "ok" or "FAIL" line and remembers a failure in $status, the script's exit status.
# shellcheck shell=bash disable=SC2034 # status is read by the script that sources this
status=0

check() {
    if [ "$1" = 0 ]; then
        echo "ok   $2"
    else
        echo "FAIL $2"
        status=1
    fi
}

# Waits up to $1 seconds for the command after it to succeed.
within() {
    local limit=$1 start=$SECONDS
    shift
    until "$@"; do
        [ $((SECONDS - start)) -lt "$limit" ] || return 1
        sleep 0.2
    done
}

# The gadget unit blocks its control signals first thing; one sent before that would end it.
# shellcheck disable=SC2317 # called through within
unit_takes_signals() { # of the gadget unit started as $unit_pid
    local blocked
    blocked=$(awk '/^SigBlk:/ { print $2 }' "/proc/$unit_pid/status" 2>/dev/null) &&
        [ -n "$blocked" ] && (((16#$blocked & 1) != 0)) # SIGHUP is signal 1
}
