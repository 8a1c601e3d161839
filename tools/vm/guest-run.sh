#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Guest side of the test machine: PID 1 on the host's read-only root after the initramfs init has
# switched to it. Starts udev so that device monitors see events, runs the job the host left in the
# results folder under its own time limit, leaves its output and exit status there and powers the
# machine off.
set -u
results=$1

uptime_s() { cut -d' ' -f1 /proc/uptime; }

export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/tmp

modprobe configfs && mount -t configfs none /sys/kernel/config

udevd=/lib/systemd/systemd-udevd
[ -x "$udevd" ] || udevd=/usr/lib/systemd/systemd-udevd
"$udevd" --daemon
# Only the subsystems the rig uses: replaying every device costs many seconds under emulation.
udevadm trigger --action=add --subsystem-match=usb --subsystem-match=hid \
    --subsystem-match=hidraw --subsystem-match=udc >/dev/null 2>&1
udevadm settle --timeout=60

uptime_s >"$results/ready"

limit=$(cat "$results/limit")
cd "$(cat "$results/cwd")" || cd /
timeout --kill-after=5 "$limit" bash "$results/job" >"$results/output" 2>&1 </dev/null
status=$?
echo "$status" >"$results/status"
uptime_s >"$results/done"
sync
# PID 1 must not exit (the kernel would panic); the sysrq trigger powers off at once.
echo o >/proc/sysrq-trigger
sleep 60
