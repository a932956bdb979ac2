#!/bin/busybox sh
# The first process of the kernel suite's guest (scripts/kernel-test.sh packs
# it into the initramfs as /init, with busybox, the modules that reach the
# host's files and /config). It mounts the host's root (read-only) and the
# results share, runs the suite chrooted in the host's root, and powers the
# guest off whatever happens: a guest left running is only ended by the
# host's time bound.
/bin/busybox mkdir -p /proc /sys /dev /newroot /bin
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
. /config

say() { echo "kernel-init: $*"; }

boot() {
    while read -r module; do
        insmod "/modules/$module" || { say "cannot load $module"; return 1; }
    done </modules/order
    # The host does not change its files while the guest runs: let the guest
    # keep what it read.
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=512000 hostroot /newroot ||
        { say "cannot mount the host's root"; return 1; }
    mkdir -p /host
    mount -o bind /newroot /host
    mount -t tmpfs tmpfs /newroot/tmp
    mount -t tmpfs tmpfs /newroot/run
    # A checkout or build under /tmp or /run stays in sight through the
    # guest's own scratch space.
    for dir in "$SOURCE_DIR" "$BUILD_DIR"; do
        case $dir in
        /tmp/* | /run/*)
            mkdir -p "/newroot$dir"
            mount -o bind "/host$dir" "/newroot$dir" || { say "cannot reach $dir"; return 1; }
            ;;
        esac
    done
    mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results "/newroot$RESULTS_DIR" ||
        { say "cannot mount the results share"; return 1; }
    mount -o move /dev /newroot/dev
    # What udev would add to /dev: the shell's process substitution needs
    # /dev/fd.
    ln -s /proc/self/fd /newroot/dev/fd
    ln -s /proc/self/fd/0 /newroot/dev/stdin
    ln -s /proc/self/fd/1 /newroot/dev/stdout
    ln -s /proc/self/fd/2 /newroot/dev/stderr
    mkdir -p /newroot/dev/shm
    mount -t tmpfs tmpfs /newroot/dev/shm
    mount -t proc proc /newroot/proc
    mount -t sysfs sysfs /newroot/sys
    chroot /newroot /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        /bin/bash "$SUITE" guest "$BUILD_DIR" "$RESULTS_DIR" "$KERNEL_ROOT" </newroot/dev/null
}

boot || echo "init failed" >"/newroot$RESULTS_DIR/init-failed" 2>/dev/null
sync
poweroff -f
