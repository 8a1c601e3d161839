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
