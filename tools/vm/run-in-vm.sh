#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one command inside a throw-away virtual machine with a real Debian kernel, and brings back
# its output and exit status.
#
#   tools/vm/run-in-vm.sh [--timeout SECONDS] [--results DIR] [--] COMMAND [ARG...]
#
# The machine is built only from Debian packages installed here: the kernel of linux-image-amd64,
# a busybox init in a small initramfs (cached under build/vm/), and the host's own root file system
# shared read-only over virtio-9p, so the command, kmod, udev and the project's binaries all come
# from this machine. The results folder is shared writable. Software emulation (TCG) only.
#
# Environment: QX_VM_KERNEL (kernel version, default the newest one with modules), QX_VM_MEMORY
# (MiB, default 1024), QX_VM_BOOT_MARGIN (seconds the machine may take beyond --timeout, default
# 240), QX_VM_VERBOSE=1 (print the guest console), QX_VM_KEEP=1 (keep the results folder made
# when --results is not given); every QX_* variable is passed on to the command.
#
# Exit status: the command's own; 124 when the time limit ended the machine; 125 when this machine
# cannot run one at all (a tool or the kernel missing, or qemu failing before the guest kernel
# printed anything; the reason is on a line "vm: cannot boot: ..."); 1 when the guest started but
# failed before the command's status came back.
set -u

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
limit=300
results=

while [ $# -gt 0 ]; do
    case "$1" in
    --timeout) limit=$2; shift 2 ;;
    --results) results=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "run-in-vm: unknown option $1" >&2; exit 2 ;;
    *) break ;;
    esac
done
if [ $# -eq 0 ]; then
    echo "usage: run-in-vm.sh [--timeout SECONDS] [--results DIR] [--] COMMAND [ARG...]" >&2
    exit 2
fi

cannot_boot() {
    echo "vm: cannot boot: $*"
    exit 125
}

qemu=$(command -v qemu-system-x86_64) || cannot_boot "qemu-system-x86_64 is not installed"
command -v busybox >/dev/null || [ -x /bin/busybox ] || cannot_boot "busybox-static is not installed"
busybox=$(command -v busybox || echo /bin/busybox)
# The init needs applets (insmod, mount, chroot, poweroff) without any shared library.
if ! "$busybox" --list | grep -qx insmod || ldd "$busybox" >/dev/null 2>&1; then
    cannot_boot "$busybox is not the static busybox with insmod"
fi
command -v cpio >/dev/null || cannot_boot "cpio is not installed"

kver=${QX_VM_KERNEL:-}
if [ -z "$kver" ]; then
    for k in $(find /boot -maxdepth 1 -name 'vmlinuz-*' | sed 's|^/boot/vmlinuz-||' | sort -V); do
        [ -d "/lib/modules/$k" ] && kver=$k
    done
fi
[ -n "$kver" ] || cannot_boot "no kernel image with modules in /boot (install linux-image-amd64)"
kernel=/boot/vmlinuz-$kver
[ -r "$kernel" ] || cannot_boot "$kernel is missing"

# --- initramfs: busybox, the init and the modules needed to reach the 9p shares -----------------
modules_for_9p=(virtio_pci 9pnet_virtio 9p)
key=$(cat "$here/init.sh" <(echo "$kver ${modules_for_9p[*]}") | sha256sum | cut -c1-12)
cache=$repo/build/vm
initrd=$cache/initramfs-$kver-$key.cpio.gz
if [ ! -s "$initrd" ]; then
    mkdir -p "$cache"
    stage=$(mktemp -d "$cache/stage.XXXXXX")
    mkdir -p "$stage/bin" "$stage/proc" "$stage/sys" "$stage/dev" "$stage/modules"
    cp "$busybox" "$stage/bin/busybox"
    for applet in sh mount insmod mkdir cat cut sleep switch_root poweroff sync; do
        ln -s busybox "$stage/bin/$applet"
    done
    install -m 0755 "$here/init.sh" "$stage/init"
    # modprobe prints the load order, dependencies first; built-in modules print as "builtin".
    if ! deps=$(modprobe -S "$kver" --show-depends -a "${modules_for_9p[@]}" 2>&1); then
        rm -rf "$stage"
        cannot_boot "modules of $kver: $deps"
    fi
    : >"$stage/modules/order"
    while read -r verb path _; do
        [ "$verb" = insmod ] || continue
        name=$(basename "$path")
        grep -qx "$name" "$stage/modules/order" && continue
        cp "$path" "$stage/modules/$name"
        echo "$name" >>"$stage/modules/order"
    done <<<"$deps"
    tmp=$initrd.tmp.$$
    rm -f "$cache"/initramfs-*.cpio.gz # images of other kernels or inits
    (cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$tmp" && mv "$tmp" "$initrd"
    rm -rf "$stage" "$tmp"
    [ -s "$initrd" ] || cannot_boot "could not build the initramfs"
fi

# --- kernel: booted straight into its 64-bit entry (PVH) when it has one ------------------------
# Debian ships the kernel xz-compressed behind a real-mode stub; under emulation the firmware and
# the self-decompression take several times longer than the boot itself, so the uncompressed image
# is kept next to the initramfs and qemu enters it directly. Without a PVH entry the compressed
# image boots the usual way.
vmlinux=$cache/vmlinux-$kver
if [ ! -s "$vmlinux" ]; then
    mkdir -p "$cache"
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$kernel" 2>/dev/null | head -n 1 | cut -d: -f1)
    tmp=$cache/partial-vmlinux.$$
    if [ -n "$offset" ] &&
        tail -c +$((offset + 1)) "$kernel" | xz -dc --single-stream >"$tmp" 2>/dev/null &&
        readelf -n "$tmp" 2>/dev/null | grep -q 'Unknown note type: (0x00000012)'; then
        rm -f "$cache"/vmlinux-*
        mv "$tmp" "$vmlinux"
    fi
    rm -f "$tmp"
fi
[ -s "$vmlinux" ] && kernel=$vmlinux

# --- the job -------------------------------------------------------------------------------------
if [ -z "$results" ]; then
    mkdir -p "$cache"
    results=$(mktemp -d "$cache/results.XXXXXX")
    [ "${QX_VM_KEEP:-0}" = 1 ] || trap 'rm -rf "$results"' EXIT
else
    mkdir -p "$results"
    rm -f "$results"/{job,limit,cwd,ready,done,status,output,console.log}
fi
results=$(cd "$results" && pwd)
{
    echo "# written by run-in-vm.sh"
    while IFS='=' read -r name _; do
        case "$name" in QX_*) printf 'export %s=%q\n' "$name" "${!name}" ;; esac
    done < <(env)
    printf 'exec'
    printf ' %q' "$@"
    echo
} >"$results/job"
echo "$limit" >"$results/limit"
pwd >"$results/cwd"

# The project tree gets a share of its own, mounted at the same path in the guest: a checkout under
# /tmp or /run would otherwise be hidden by the guest's own writable /tmp and /run.
project=$(cd "$here/../.." && pwd)

# The machine's own limit leaves room for booting and udev around the command's.
boot_margin=${QX_VM_BOOT_MARGIN:-240}
hard_limit=$((limit + boot_margin))
start=$(date +%s.%N)
# Without SMAP: under qemu's emulation of it every Wine process dies at once on a page fault.
timeout --kill-after=10 "$hard_limit" "$qemu" \
    -accel tcg -M pc -cpu max,-smap -smp 1 -m "${QX_VM_MEMORY:-1024}" \
    -nodefaults -no-user-config -display none -nic none -no-reboot \
    -serial "file:$results/console.log" -monitor none \
    -kernel "$kernel" -initrd "$initrd" \
    -append "console=ttyS0 quiet loglevel=4 panic=-1 qx.run=$here/guest-run.sh qx.project=$project" \
    -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev local,id=project,path="$project",security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=project,mount_tag=project \
    -fsdev "local,id=results,path=$results,security_model=none" \
    -device virtio-9p-pci,fsdev=results,mount_tag=results \
    >"$results/qemu.log" 2>&1 &
vm_pid=$!
# Never leave a machine running behind an interrupted run: timeout passes the signal on to qemu.
trap 'kill -TERM "$vm_pid" 2>/dev/null; wait "$vm_pid"; exit 130' INT TERM HUP
wait "$vm_pid"
qemu_status=$?
end=$(date +%s.%N)
elapsed=$(awk "BEGIN{print $end - $start}")

if [ "${QX_VM_VERBOSE:-0}" = 1 ] && [ -f "$results/console.log" ]; then
    sed 's/^/vm console: /' "$results/console.log"
fi
[ -f "$results/output" ] && cat "$results/output"

ready=$(cat "$results/ready" 2>/dev/null || true)
booted=$(sed -n 's/.*qx-vm: init ready after \([0-9.]*\) s.*/\1/p' "$results/console.log" 2>/dev/null)
printf 'vm: kernel %s, machine ran %.1f s' "$kver" "$elapsed"
[ -n "$booted" ] && printf '; guest clock: shares mounted at %s s' "$booted"
[ -n "$ready" ] && printf ', udev ready at %s s' "$ready"
echo

if [ -f "$results/status" ]; then
    status=$(cat "$results/status")
    [ "$status" = 124 ] && echo "vm: the command hit its time limit of $limit s"
    exit "$status"
fi
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
    echo "vm: time limit of $hard_limit s reached"
    tail -n 20 "$results/console.log" 2>/dev/null | sed 's/^/vm console: /'
    exit 124
fi
if [ -z "$ready" ] && [ ! -s "$results/console.log" ]; then
    # The guest kernel never said a word: qemu itself could not run here.
    reason=$(tail -n 3 "$results/qemu.log" 2>/dev/null | tr '\n' ' ')
    cannot_boot "qemu exited with $qemu_status before the guest started: ${reason:-no output}"
fi
echo "vm: the guest stopped without an exit status"
tail -n 20 "$results/console.log" 2>/dev/null | sed 's/^/vm console: /'
exit 1
