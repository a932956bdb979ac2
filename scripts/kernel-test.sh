#!/usr/bin/env bash
# Runs the diagnostic of a build on the real Linux st and sg drivers: boots
# Debian's 6.1 kernel under qemu (software emulation: this machine's kernel
# has no SCSI, and KVM cannot run a guest here), with the host's root shared
# read-only, and runs tests/kernel/suite.sh in the guest against two drives:
# tgt's tape LUN through the kernel's iSCSI initiator, and the virtual drive
# served by tests/kernel/vtape-tcmu through the kernel's target subsystem on
# its loopback fabric.
#
#   scripts/kernel-test.sh [BUILD_DIR]        (default: build)
#
# Prints one line per case and "N passed, N failed"; exits non-zero when a
# case failed or the guest did not finish. The guest is killed when it runs
# longer than KERNEL_TEST_LIMIT seconds (default 270). The kernel package is
# downloaded with apt and unpacked, never installed, into
# BUILD_DIR/kernel-cache; each case's output, the guest's console and the
# measurements (BUILD_DIR/kernel-test/results/measure/) stay in
# BUILD_DIR/kernel-test until the next run. Needs root (qemu's 9p shares
# serve the host's files as they are) and installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)

say() { echo "kernel-test: $*" >&2; }

build=${1:-build}
[ -d "$build" ] || { say "no build directory $build"; exit 2; }
build=$(cd "$build" && pwd)
for program in server/tapediag tests/kernel/vtape-tcmu tests/kernel/sgio-probe; do
    [ -x "$build/$program" ] || { say "$build/$program is not built"; exit 2; }
done
if [ "$(id -u)" -ne 0 ]; then
    say "needs root (tgt, the kernel's target subsystem and qemu's shares of the host's files)"
    exit 2
fi

scripts/install-deps.sh qemu-system-x86 busybox-static open-iscsi kmod cpio xz-utils util-linux iproute2 >&2
limit=${KERNEL_TEST_LIMIT:-270}
started=$(date +%s)

# ------------------------------------------------------------------ kernel
# The 6.1 image package Debian's linux-image-amd64 points at (never the
# cloud flavour: it lacks the SCSI target modules).
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-6\.1\.[0-9]*-[0-9]*-amd64\)$/\1/p' | head -1
}
package=$(kernel_package)
if [ -z "$package" ]; then
    apt-get update -q >&2
    package=$(kernel_package)
fi
cache=$build/kernel-cache
if [ -z "$package" ]; then
    # No package list: a kernel unpacked before still serves.
    version=$(ls "$cache" 2>/dev/null | sed -n 's/^\(6\.1\.[0-9]*-[0-9]*-amd64\)$/\1/p' | tail -1)
    [ -n "$version" ] && [ -f "$cache/$version/ready" ] || { say "no linux-image 6.1 package is known to apt"; exit 2; }
else
    version=${package#linux-image-}
fi
kernel=$cache/$version
if [ ! -f "$kernel/ready" ]; then
    say "fetching $package"
    rm -rf "$cache"
    mkdir -p "$kernel/deb"
    (cd "$kernel/deb" && apt-get download -q -o APT::Sandbox::User=root "$package" >&2)
    dpkg -x "$kernel"/deb/*.deb "$kernel/root"
    rm -rf "$kernel/deb"
    depmod -b "$kernel/root" "$version"
    # qemu boots the uncompressed image straight away (its PVH entry); the
    # compressed one first decompresses itself in the emulated CPU. The
    # image is the xz stream inside vmlinuz.
    compressed=$kernel/root/boot/vmlinuz-$version
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$compressed" | head -1 | cut -d: -f1)
    [ -n "$offset" ] || { say "no xz stream in $compressed"; exit 2; }
    tail -c +$((offset + 1)) "$compressed" | xz -dc >"$kernel/vmlinux" 2>/dev/null || true
    [ "$(head -c 4 "$kernel/vmlinux" | od -An -c | tr -d ' ')" = '177ELF' ] ||
        { say "cannot unpack the kernel image of $package"; exit 2; }
    touch "$kernel/ready"
fi

# --------------------------------------------------------------- the run
work=$build/kernel-test
rm -rf "$work"
mkdir -p "$work/initramfs/modules" "$work/initramfs/bin" "$work/initramfs/dev" "$work/results" "$work/expect"
qemu_pid=
expect_pid=
cleanup() {
    [ -z "$qemu_pid" ] || kill -KILL "$qemu_pid" 2>/dev/null || true
    [ -z "$expect_pid" ] || kill "$expect_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work/initramfs" "$work/initramfs.cpio"
}
trap cleanup EXIT

# The initramfs: busybox, the init script and the modules that reach the
# host's files. Everything else the guest loads from the unpacked kernel
# through the share.
cp /bin/busybox "$work/initramfs/bin/busybox"
cp tests/kernel/init.sh "$work/initramfs/init"
mknod -m 600 "$work/initramfs/dev/console" c 5 1
for module in virtio_pci 9pnet_virtio 9p; do
    modprobe -d "$kernel/root" -S "$version" --show-depends "$module" | awk '$1 == "insmod" { print $2 }'
done | awk '!seen[$0]++' | while read -r path; do
    cp "$path" "$work/initramfs/modules/"
    basename "$path" >>"$work/initramfs/modules/order"
done
cat >"$work/initramfs/config" <<EOF
SOURCE_DIR='$source_dir'
SUITE='$source_dir/tests/kernel/suite.sh'
BUILD_DIR='$build'
RESULTS_DIR='$work/results'
KERNEL_ROOT='$kernel/root'
EOF
(cd "$work/initramfs" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

# What the in-process virtual drive prints for the same commands, made
# while the guest runs.
bash tests/kernel/suite.sh expect "$build" "$work/expect" >"$work/expect.log" 2>&1 &
expect_pid=$!

timeout --kill-after=5 "$limit" qemu-system-x86_64 -nodefaults -no-user-config -display none -no-reboot \
    -accel tcg,thread=multi -cpu max -smp 2 -m 1024 \
    -kernel "$kernel/vmlinux" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 loglevel=4" \
    -serial "file:$work/console.log" \
    -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev "local,id=results,path=$work/results,security_model=none" \
    -device virtio-9p-pci,fsdev=results,mount_tag=results &
qemu_pid=$!
guest_status=0
wait "$qemu_pid" || guest_status=$?
qemu_pid=
wait "$expect_pid" || say "the expected outputs are incomplete (see $work/expect.log)"
expect_pid=

# ------------------------------------------------------------ the verdict
# What differs between routes by design: the drive's address, and the date
# of a test's start (either may follow an interactive prompt).
normalise() {
    sed -E -e 's/SCSI Adapter: .*/SCSI Adapter: (address)/' \
        -e 's/(Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z][a-z] [ 0-9][0-9] [0-9:]{8} [0-9]{4}$/(date)/' "$1"
}

passed=0
failed=0
report() {  # NAME VERDICT REASON
    if [ "$2" = PASS ]; then
        passed=$((passed + 1))
        echo "PASS $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: $3"
    fi
}

results=$work/results
if [ ! -f "$results/cases" ]; then
    report guest FAIL "the suite did not run (qemu status $guest_status; see $work/console.log)"
    tail -20 "$work/console.log" >&2 || true
else
    while IFS=$'\t' read -r name verdict reason; do
        if [ "$verdict" = PASS ]; then
            # Each output the case named must be what the in-process drive
            # prints, but for the lines that name the device.
            while IFS=$'\t' read -r _ key; do
                if [ ! -f "$work/expect/out/$key.out" ]; then
                    verdict=FAIL reason="no expected output for $key"
                elif ! diff <(normalise "$results/out/$key.out") <(normalise "$work/expect/out/$key.out") \
                    >"$results/out/$key.diff"; then
                    verdict=FAIL
                    reason="$key differs from the in-process drive: $(grep -m1 '^[<>]' "$results/out/$key.diff")"
                elif [ -f "$work/expect/out/$key.file" ] && ! cmp -s "$results/out/$key.file" "$work/expect/out/$key.file"; then
                    verdict=FAIL reason="$key: the captured file differs from what the virtual drive holds"
                fi
                [ "$verdict" = PASS ] || break
            done < <(awk -F'\t' -v name="$name" '$1 == name' "$results/compare" 2>/dev/null)
        fi
        report "$name" "$verdict" "$reason"
    done <"$results/cases"
    if [ ! -f "$results/done" ]; then
        report guest FAIL "the suite did not finish (qemu status $guest_status; see $work/console.log)"
    fi
fi
say "$((passed + failed)) cases in $(($(date +%s) - started)) s; outputs and measurements in $work"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
