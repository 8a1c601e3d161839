#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# First PID 1 of the test machine, run from the small initramfs by busybox. It mounts the host's
# root file system read-only and the results folder writable (both over virtio-9p) and hands PID 1
# over to the guest side of the rig on the host's root. A real switch of root rather than a chroot,
# because systemd-udevd refuses to start in a chroot. On any failure it powers the machine off, so
# that the host never waits for a machine that has nothing left to do.
export PATH=/bin

mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

say() { echo "qx-vm: $*" >/dev/console; }
halt_now() {
    sync
    poweroff -f
    sleep 60
}

for m in $(cat /modules/order); do
    insmod "/modules/$m" || say "insmod $m failed"
done

runner=
project=
for word in $(cat /proc/cmdline); do
    case "$word" in
    qx.run=*) runner=${word#qx.run=} ;;
    qx.project=*) project=${word#qx.project=} ;;
    esac
done

mkdir -p /host
# cache=loose: the host's root does not change under a machine that lives for seconds, and
# executing programs over an uncached 9p share is many times slower under emulation.
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose,ro hostroot /host; then
    say "cannot mount the host root"
    halt_now
fi
mount -t proc proc /host/proc
mount -t sysfs sys /host/sys
mount -t devtmpfs dev /host/dev
mkdir -p /host/dev/pts /host/dev/shm
mount -t devpts devpts /host/dev/pts
mount -t tmpfs tmp /host/run
mount -t tmpfs tmp /host/tmp
# The project tree at its own path, over whatever the writable mounts above may have hidden.
if [ -n "$project" ]; then
    mkdir -p "/host$project" 2>/dev/null
    if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose,ro project \
        "/host$project"; then
        say "cannot mount the project tree"
        halt_now
    fi
fi
mkdir -p /host/run/qx-vm/results
if ! mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=none results \
    /host/run/qx-vm/results; then
    say "cannot mount the results folder"
    halt_now
fi

say "init ready after $(cut -d' ' -f1 /proc/uptime) s"
if [ ! -f "/host$runner" ]; then
    say "no runner at $runner"
    halt_now
fi
exec switch_root /host /bin/bash "$runner" /run/qx-vm/results
