#!/usr/bin/env bash
# The kernel suite: the diagnostic on the real st and sg drivers, in the
# guest that scripts/kernel-test.sh boots.
#
#   suite.sh guest BUILD_DIR RESULTS_DIR KERNEL_ROOT
#       In the guest, as root: loads the drivers from the unpacked kernel
#       at KERNEL_ROOT, brings up the two drives, runs every case and writes
#       RESULTS_DIR/cases (name, PASS or FAIL, reason; tab-separated),
#       RESULTS_DIR/compare (case, key: outputs that must be what the
#       in-process drive prints), RESULTS_DIR/out/KEY.* (what each run
#       printed), RESULTS_DIR/measure/* (what the kernel did, for the notes)
#       and RESULTS_DIR/done at the end.
#   suite.sh expect BUILD_DIR EXPECT_DIR
#       On the host: runs the same diagnostics on the in-process virtual
#       drive (-dev:sim:...), so that EXPECT_DIR/KEY.out is what a drive of
#       the same model and faults prints without the kernel.
#
# Each diagnostic on the virtual drive gets a drive of its own: the handler
# is started again with the case's model and faults, as a sim: device is
# made new by each run.
set -uo pipefail

mode=$1
build=$2
out=$3
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
tapediag=$build/server/tapediag
handler=$build/tests/kernel/vtape-tcmu
probe=$build/tests/kernel/sgio-probe
mkdir -p "$out/out" "$out/measure"

guest() { [ "$mode" = guest ]; }

case_name=
case_failure=

# Starts a case; the case passes unless `fail` was said before `finish`.
case_started=0
begin() {
    case_name=$1
    case_failure=
    case_started=$SECONDS
    guest && echo "suite: $case_name" >&2
}
fail() {
    [ -n "$case_failure" ] || case_failure=$*
}
finish() {
    guest || return 0
    measure timing "$case_name: $((SECONDS - case_started)) s"
    if [ -z "$case_failure" ]; then
        printf '%s\tPASS\t\n' "$case_name" >>"$out/cases"
    else
        printf '%s\tFAIL\t%s\n' "$case_name" "$case_failure" >>"$out/cases"
    fi
}
# The host compares KEY's output (and captured file) with the in-process
# drive's.
compare() {
    guest && printf '%s\t%s\n' "$case_name" "$1" >>"$out/compare"
}
measure() {  # FILE TEXT...
    local file=$1
    shift
    guest && printf '%s\n' "$*" >>"$out/measure/$file"
}

# Runs tapediag with ARGS; stdout, stderr and exit status in out/KEY.*.
# Standard input comes from out/KEY.in when it exists (an interactive
# session). Bounded: a run that hangs is killed and says so.
run() {
    local key=$1
    shift
    local input=/dev/null
    [ -f "$out/out/$key.in" ] && input=$out/out/$key.in
    timeout -k 5 120 "$tapediag" "$@" <"$input" >"$out/out/$key.out" 2>"$out/out/$key.err"
    echo $? >"$out/out/$key.rc"
}
status_of() { cat "$out/out/$1.rc"; }
printed() { grep -q -F -- "$2" "$out/out/$1.out"; }
said() { grep -q -F -- "$2" "$out/out/$1.err"; }
# tapediag exits 1 on success.
expect_success() {
    [ "$(status_of "$1")" = 1 ] || fail "$1 exited $(status_of "$1"): $(head -c 300 "$out/out/$1.err")"
}
expect_line() {
    printed "$1" "$2" || fail "$1 did not print \"$2\""
}

# ----------------------------------------------------------- the guest's drives
cfg=/sys/kernel/config/target
backstore=$cfg/core/user_0/vtape
loopback=$cfg/loopback/naa.5001405000000001
handler_pid=
handler_log=
handlers_started=0
uio=
vt_nst=  # the virtual drive's st node, generic node and address
vt_sg=
vt_address=
tgt_nst=
tgt_sg=
tgt_address=
tgt_url=

# Waits up to SECONDS for COMMAND to succeed.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

# The st node (nstN), generic node (sgM) and H:C:T:L of the tape whose host
# adapter's driver is PROC_NAME.
find_tape() {
    local proc=$1 entry address host generic
    for entry in /sys/class/scsi_tape/nst[0-9]*; do
        [ -e "$entry" ] || continue
        address=$(basename "$(readlink -f "$entry/device")")
        host=${address%%:*}
        [ "$(cat "/sys/class/scsi_host/host$host/proc_name" 2>/dev/null)" = "$proc" ] || continue
        generic=$(ls "$entry/device/scsi_generic" 2>/dev/null | head -1)
        echo "${entry##*/} ${generic:-none} $address"
        return 0
    done
    return 1
}
tapes_present() {
    find_tape tcm_loopback >/dev/null && find_tape iscsi_tcp >/dev/null
}
# Reads the two drives' nodes again (after the sg module came back, say)
# and gives their nodes to root and the group tape, as udev would.
read_tapes() {
    read -r vt_nst vt_sg vt_address < <(find_tape tcm_loopback)
    read -r tgt_nst tgt_sg tgt_address < <(find_tape iscsi_tcp)
    local node
    for node in "$vt_nst" "${vt_nst#n}" "$vt_sg" "$tgt_nst" "${tgt_nst#n}" "$tgt_sg"; do
        [ -c "/dev/$node" ] && chgrp tape "/dev/$node" && chmod 660 "/dev/$node"
    done
    return 0
}

stop_handler() {
    [ -n "$handler_pid" ] || return 0
    kill "$handler_pid" 2>/dev/null
    wait "$handler_pid" 2>/dev/null
    handler_pid=
}
# Serves a new virtual drive DRIVE (MODEL[,FAULT...]) behind the same LUN: the kernel keeps
# its device, the drive is as a sim: device is at the start of a run.
start_handler() {
    stop_handler
    handlers_started=$((handlers_started + 1))
    handler_log=$out/measure/commands-$case_name-$handlers_started.log
    : >/tmp/handler.out
    "$handler" "/dev/$uio" "$1" "$handler_log" </dev/null >/tmp/handler.out 2>>"$out/measure/handler.err" &
    handler_pid=$!
    wait_for 10 grep -q ready /tmp/handler.out || { fail "the handler did not start for $1"; return 1; }
}

# The virtual drive: a user backstore of the target subsystem whose ring
# the handler serves, exported on the loopback fabric.
start_virtual_drive() {
    mkdir -p "$backstore" || return 1
    echo -n "dev_config=vtape/ultrium" >"$backstore/control" || return 1
    echo -n "dev_size=1073741824" >"$backstore/control" || return 1
    # A handler that died under a command fails it after this long (30 s
    # by default); the slowest command of a case stays well below it.
    echo 10 >"$backstore/attrib/cmd_time_out" || return 1
    echo 1 >"$backstore/enable" || return 1
    local name
    for name in /sys/class/uio/uio*/name; do
        case $(cat "$name") in tcm-user/*/vtape/*) uio=$(basename "$(dirname "$name")") ;; esac
    done
    [ -n "$uio" ] || return 1
    start_handler ultrium || return 1
    mkdir -p "$loopback/tpgt_1/lun/lun_0" || return 1
    echo -n naa.5001405000000002 >"$loopback/tpgt_1/nexus" || return 1
    ln -s "$backstore" "$loopback/tpgt_1/lun/lun_0/vtape"
}

# tgt's tape LUN on the guest's own loopback, logged in by the kernel's
# iSCSI initiator.
start_tgt_drive() {
    tgt_url=$("$source_dir/scripts/tgt-target.sh" start /dev/shm/tgt) || return 1
    local rest=${tgt_url#iscsi://127.0.0.1:}
    local port=${rest%%/*} iqn=${rest#*/}
    iqn=${iqn%/*}
    iscsistart -i iqn.2026-12.test.tapediag:guest -t "$iqn" -g 1 -a 127.0.0.1 -p "$port" \
        >"$out/measure/iscsistart.log" 2>&1
}

# What the guest had when its drives did not come up.
dump_state() {
    {
        echo "== modules"; cat /proc/modules
        echo "== scsi devices"; ls -l /sys/bus/scsi/devices/
        echo "== hosts"; grep . /sys/class/scsi_host/*/proc_name
        echo "== tapes"; ls -l /sys/class/scsi_tape/ /sys/class/scsi_generic/
        echo "== uio"; grep . /sys/class/uio/*/name
        echo "== configfs"; find "$cfg" -maxdepth 6
        echo "== handler"; ps ax | grep -v grep | grep vtape-tcmu; cat /tmp/handler.out
        echo "== backstore"; cat "$backstore/info" "$backstore/statistics/scsi_lu/num_cmds" "$loopback/tpgt_1/address"
        echo "== kernel log"; dmesg
    } >"$out/measure/setup-failure" 2>&1
}

setup_guest() {
    local kernel_root=$1 module
    # The kernel loads what it asks for (crypto, target backends) from the
    # unpacked kernel too.
    printf '#!/bin/sh\nexec /sbin/modprobe -d %s "$@"\n' "$kernel_root" >/tmp/modprobe
    chmod 755 /tmp/modprobe
    echo /tmp/modprobe >/proc/sys/kernel/modprobe
    for module in st sg crc32c_generic iscsi_tcp target_core_user tcm_loop; do
        modprobe -d "$kernel_root" "$module" || { echo "suite: cannot load $module" >&2; return 1; }
    done
    mount -t configfs configfs /sys/kernel/config 2>/dev/null
    ip link set lo up
    start_tgt_drive || { echo "suite: tgt's drive did not come up" >&2; return 1; }
    start_virtual_drive || { echo "suite: the virtual drive did not come up" >&2; return 1; }
    wait_for 30 tapes_present || { echo "suite: the tape nodes did not appear" >&2; dump_state; return 1; }
    read_tapes
    measure drives "virtual drive: /dev/$vt_nst /dev/$vt_sg $vt_address; tgt: /dev/$tgt_nst /dev/$tgt_sg $tgt_address"
}

# ------------------------------------------------------------------ diagnostics
# A new virtual drive DRIVE (MODEL[,FAULT...]), reached through ROUTE (nst or sg) in the
# guest, as -dev:sim:DRIVE on the host: its device in $device.
device=
new_drive() {
    device=sim:$1
    guest || return 0
    start_handler "$1" || return 1
    device=/dev/$vt_sg
    [ "$2" = nst ] && device=/dev/$vt_nst
    return 0
}
# One diagnostic on a new drive DRIVE through ROUTE; @DEV@ in ARGS is
# its device.
diag() {
    local key=$1
    new_drive "$2" "$3" || return 1
    shift 3
    run "$key" "${@//@DEV@/$device}"
}
# An interactive session of LINES, one command each, with @DEV@ as above.
session() {
    local key=$1
    new_drive "$2" "$3" || return 1
    shift 3
    local line
    for line in "$@"; do
        printf '%s\n' "${line//@DEV@/$device}"
    done >"$out/out/$key.in"
    run "$key"
}

case_rwtest() {  # NAME DRIVE ROUTE EXIT-STATUS VERDICT-LINE
    begin "$1"
    diag "$1" "$2" "$3" rwtest -dev:@DEV@ -id:x -nr -ts:16
    [ "$(status_of "$1")" = "$4" ] || fail "$1 exited $(status_of "$1"), not $4"
    expect_line "$1" "$5"
    compare "$1"
    finish
}

case_plain() {  # NAME DRIVE LINE ARGS...: runs, succeeds, prints LINE
    local name=$1 drive=$2 line=$3
    shift 3
    begin "$name"
    diag "$name" "$drive" sg "$@" -dev:@DEV@ -id:x -nr
    expect_success "$name"
    expect_line "$name" "$line"
    compare "$name"
    finish
}

case_capture() {  # NAME DRIVE COMMAND: the file is what the virtual drive holds, byte for byte
    begin "$1"
    diag "$1" "$2" sg "$3" -dev:@DEV@ -id:x -nr "-f:$out/out/$1.file"
    expect_success "$1"
    [ -s "$out/out/$1.file" ] || fail "$3 wrote no file"
    compare "$1"
    finish
}

diagnostics() {
    # tapediag exits 1 for a test that passed, 0 for any other verdict.
    case_rwtest rwtest-nst ultrium nst 1 "Test completed successfully."
    case_rwtest rwtest-sg ultrium sg 1 "Test completed successfully."
    case_rwtest rwtest-read-error ultrium,read-error=100 sg 0 "Failure on: Read Data From Drive"
    case_rwtest rwtest-write-error ultrium,write-error=50 nst 0 "Failure on: Write Data to Drive."
    case_rwtest rwtest-write-uncorrected ultrium,write-uncorrected=2 sg 0 "Test failed due to excessive errors."
    case_plain ctest ultrium "Tape drive compression is operating normally." ctest -ts:16
    case_plain logpages ultrium "Log Page 00h" logpages
    case_plain retension ultrium "Tape retension complete." retension
    case_plain etest ultrium "Drive Diagnostic Test complete: Report Pass." etest
    case_plain park ultrium "Drive Arm successfully parked." park
    case_plain unpark ultrium "Drive Arm successfully unparked." unpark
    case_capture trace ultrium,firmware=R128 trace
    case_capture cmemory ultrium cmemory
    case_capture eeprom ultrium eeprom

    begin get-set
    session get-set ultrium sg "set -speed:12 -load:hold -compdefault:off -dev:@DEV@ -id:x -nr" \
        "get -speed -compdefault -load -id:x -nr" e
    expect_line get-set "Drive speed currently set to 12 MB/Sec."
    compare get-set
    finish

    begin upgrade
    local image=$out/u120B-fw.bin
    "$source_dir/scripts/make-firmware-image.sh" ultrium 120B 1048576 "$image"
    session upgrade ultrium sg "upgrade -dev:@DEV@ -id:x -f:$image -nr" "show -nr" e
    expect_line upgrade "Firmware Version 120B installed."
    expect_line upgrade "Firmware: 120B-5RC4"
    compare upgrade
    finish
}

# ------------------------------------------------------------------- discovery
address_line() { grep -m1 '^SCSI Adapter: ' "$out/out/$1.out"; }

discovery() {
    begin discovery-scan
    start_handler ultrium
    run discovery-scan show -nr
    expect_success discovery-scan
    [ "$(grep -c '^SCSI Adapter: ' "$out/out/discovery-scan.out")" = 2 ] ||
        fail "the host scan did not list both drives"
    expect_line discovery-scan "TESSARA ULTRIUM 2, Firmware: 117A-5RC4 BOOT 1.2"
    measure addresses "host scan: $(grep '^SCSI Adapter: ' "$out/out/discovery-scan.out" | paste -sd';')"
    finish

    # Every local name of the virtual drive reaches the same drive at the
    # same address, the one sysfs gives; and prints what the in-process
    # drive prints.
    begin discovery-local-names
    ln -sf "/dev/$vt_nst" /tmp/tape-link
    diag show-nst ultrium nst show -dev:@DEV@ -nr
    run show-sg show "-dev:/dev/$vt_sg" -nr
    run show-link show -dev:/tmp/tape-link -nr
    local key sysfs
    IFS=: read -r host _ target lun <<<"$vt_address"
    sysfs="SCSI Adapter: $host, Target: $target, Lun: $lun"
    for key in show-nst show-sg show-link; do
        expect_success $key
        measure addresses "virtual drive, $key: $(address_line $key)"
        [ "$(address_line $key)" = "$sysfs" ] || fail "$key printed \"$(address_line $key)\", sysfs says $vt_address"
    done
    compare show-nst
    finish

    # tgt's LUN through the kernel and through libiscsi: the same drive at
    # the same address. The guest's iSCSI session is its first SCSI host
    # and tgt's is its only target, so the kernel's H:C:T:L is what the
    # iSCSI route numbers: adapter 0, the first target named, the URL's LUN.
    begin discovery-tgt-routes
    run show-tgt-nst show "-dev:/dev/$tgt_nst" -nr
    run show-tgt-sg show "-dev:/dev/$tgt_sg" -nr
    run show-tgt-iscsi show "-dev:$tgt_url" -nr
    IFS=: read -r host _ target lun <<<"$tgt_address"
    sysfs="SCSI Adapter: $host, Target: $target, Lun: $lun"
    for key in show-tgt-nst show-tgt-sg show-tgt-iscsi; do
        expect_success $key
        measure addresses "tgt, $key: $(address_line $key)"
        [ "$(address_line $key)" = "$sysfs" ] || fail "$key printed \"$(address_line $key)\", sysfs says $tgt_address"
    done
    diff <(grep -v '^SCSI Adapter: ' "$out/out/show-tgt-nst.out") \
        <(grep -v '^SCSI Adapter: ' "$out/out/show-tgt-iscsi.out") >/dev/null ||
        fail "the kernel and libiscsi routes identify tgt's drive differently"
    finish
}

# ------------------------------------------------------------------- the claim
claim() {
    # While rwtest runs, a second diagnostic cannot have the drive by either
    # of its nodes.
    begin claim-during-rwtest
    start_handler ultrium
    timeout 120 "$tapediag" rwtest "-dev:/dev/$vt_nst" -id:x -nr -ts:2000 </dev/null \
        >"$out/out/claim-rwtest.out" 2>&1 &
    local rwtest=$!
    if wait_for 30 grep -q "Issued Cmd: Write" "$out/out/claim-rwtest.out"; then
        run claim-second-nst show "-dev:/dev/$vt_nst" -nr
        run claim-second-sg show "-dev:/dev/$vt_sg" -nr
        said claim-second-nst "busy: in use by another program" || fail "a second diagnostic on /dev/$vt_nst was not refused as busy"
        said claim-second-sg "busy: in use by another program" || fail "a second diagnostic on /dev/$vt_sg was not refused as busy"
    else
        fail "rwtest did not start writing"
    fi
    kill "$rwtest" 2>/dev/null
    wait "$rwtest" 2>/dev/null
    finish

    begin claim-st-held
    start_handler ultrium
    exec 9<>"/dev/$vt_nst"
    run claim-held show "-dev:/dev/$vt_nst" -nr
    exec 9>&-
    said claim-held "busy: in use by another program" || fail "a drive whose st node another program holds was not refused as busy"
    finish

    # Without sg the commands go through the st node, and the line says so.
    begin sg-unloaded
    start_handler ultrium
    if rmmod sg; then
        run no-sg show "-dev:/dev/$vt_nst" -nr
        run no-sg-rwtest rwtest "-dev:/dev/$vt_nst" -id:x -nr -ts:16
        said no-sg "no SCSI generic node (is the sg module loaded?)" || fail "no fallback line without sg"
        expect_success no-sg
        expect_line no-sg "TESSARA ULTRIUM 2"
        measure sg-unloaded "rwtest through st, exit $(status_of no-sg-rwtest): $(tail -3 "$out/out/no-sg-rwtest.out" | paste -sd'|')"
        modprobe -d "$kernel_root" sg
        wait_for 10 tapes_present
        wait_for 10 test -n "$(ls "/sys/class/scsi_tape/$vt_nst/device/scsi_generic" 2>/dev/null)"
        read_tapes
    else
        fail "the sg module cannot be unloaded"
    fi
    finish
}

# ------------------------------------------------------------- permissions
# What the kernel lets a member of the group tape (not root, no
# capabilities) send through SG_IO: one probe per operation code tapediag
# sends, on the generic node opened read/write and read-only, and on the st
# node.
PROBES=(
    "TEST UNIT READY|000000000000"
    "REWIND|010000000000"
    "REQUEST SENSE|030000001200:in=18"
    "vendor 06h (park arm)|060000000000"
    "READ(6)|080000000000"
    "WRITE(6)|0A0000000000"
    "WRITE FILEMARKS|100000000000"
    "SPACE|110000000000"
    "INQUIRY|120000002400:in=36"
    "MODE SELECT(6)|150000000000"
    "MODE SENSE(6)|1A003F00FF00:in=255"
    "LOAD/UNLOAD|1B0000000100"
    "SEND DIAGNOSTIC|1D0400000000"
    "READ POSITION|34000000000000000000:in=20"
    "WRITE BUFFER|3B050000000000000000"
    "READ BUFFER|3C015500000000000010:in=16"
    "LOG SELECT|4C000000000000000000"
    "LOG SENSE|4D004000000000004000:in=64"
)

# What the README's table says of a probe's answer without its CDB ("sent
# status SS ...", "refused ERRNO"): passed, or refused (ERRNO). Sets
# `verdict` without a subshell: each process costs much in the emulated
# guest.
verdict=
read_verdict() {
    case $1 in
    sent*) verdict=passed ;;
    "refused "*) verdict="refused (${1#refused })" ;;
    *) verdict=$1 ;;
    esac
}

as_tape_user() {
    setpriv --reuid=4242 --regid=4242 --groups="$(getent group tape | cut -d: -f3)" --inh-caps=-all "$@"
}

permissions() {
    # The measured table, grouped by outcome as the README's is, must be
    # the README's.
    begin sgio-filter
    start_handler ultrium
    local entry cdbs=() names=() i
    for entry in "${PROBES[@]}"; do
        names+=("${entry%%|*}")
        cdbs+=("${entry#*|}")
    done
    local sg_answers sg_read_only_answers st_answers
    mapfile -t sg_answers < <(as_tape_user "$probe" "/dev/$vt_sg" "${cdbs[@]}")
    mapfile -t sg_read_only_answers < <(as_tape_user "$probe" -r "/dev/$vt_sg" "${cdbs[@]}")
    mapfile -t st_answers < <(as_tape_user "$probe" "/dev/$vt_nst" "${cdbs[@]}")
    local -A opcodes=()
    local order=() outcome table="| command | opcode | /dev/sgM read/write | /dev/sgM read-only | /dev/nstN |"$'\n'
    local answer
    for i in "${!cdbs[@]}"; do
        table+="| ${names[$i]} | ${cdbs[$i]:0:2}h |"
        outcome=
        for answer in "${sg_answers[$i]:-}" "${sg_read_only_answers[$i]:-}" "${st_answers[$i]:-}"; do
            answer=${answer#* }
            table+=" ${answer%% data *} |"
            read_verdict "$answer"
            outcome+="${outcome:+ | }$verdict"
        done
        table+=$'\n'
        [ -n "${opcodes[$outcome]:-}" ] || order+=("$outcome")
        opcodes[$outcome]+="${opcodes[$outcome]:+ }${cdbs[$i]:0:2}h"
    done
    measure sgio-filter "$table"
    for outcome in "${order[@]}"; do
        echo "| ${opcodes[$outcome]} | $outcome |"
    done | sort >/tmp/measured-table
    grep -E '^\| [0-9A-F]{2}h( [0-9A-F]{2}h)* \|' "$source_dir/README.md" | sort >/tmp/readme-table
    diff /tmp/readme-table /tmp/measured-table >"$out/measure/sgio-filter.diff" ||
        fail "the kernel passes other commands than the README says: $(grep '^>' "$out/measure/sgio-filter.diff" | paste -sd' ')"
    finish

    # With sg, group tape is all a diagnostic needs, named by the generic
    # node or by the st node.
    begin tape-user
    local command route
    for command in "rwtest -id:x -ts:16 sg" "eeprom -id:x -f:/tmp/eeprom-user.bin nst"; do
        route=${command##* }
        command=${command% *}
        new_drive ultrium "$route"
        # shellcheck disable=SC2086
        as_tape_user timeout 60 "$tapediag" $command "-dev:$device" -nr </dev/null >/tmp/user.out 2>/tmp/user.err
        local status=$?
        measure tapediag-as-tape-user "$command -dev:$device: exit $status; $(grep -v -E '^ *$|^[0-9a-f]{2} ' /tmp/user.out |
            tail -2 | paste -sd'|'); stderr: $(head -2 /tmp/user.err | paste -sd'|')"
        [ "$status" = 1 ] || fail "$command -dev:$device as a member of tape exited $status: $(head -c 200 /tmp/user.err)"
    done
    finish
}

# ----------------------------------------------------------------- retries
# Retries only where they help; compared with the in-process drive too.
retries() {
    # A drive that stays becoming ready past the three unit-ready tries is
    # waited for (the st driver's open takes one of its answers, so it is
    # asked more often here than the in-process drive is).
    begin becoming-ready
    diag becoming-ready ultrium,becoming-ready=6 sg rwtest -dev:@DEV@ -id:x -nr -ts:16
    expect_success becoming-ready
    expect_line becoming-ready "Test completed successfully."
    guest && measure retries "rwtest on becoming-ready=6: TEST UNIT READY sent $(grep -c '^> 00' "$handler_log")" \
        "times, answered 2/04/01 $(grep -c '^< 02 2/04/01' "$handler_log") times"
    compare becoming-ready
    finish

    # A command the drive refuses as invalid is sent once (the st driver's
    # open sends its own 12-byte MODE SENSE).
    begin refused-once
    diag refused-once ultrium,unsupported=1a sg get -speed -dev:@DEV@ -id:x -nr
    expect_line refused-once "Unable to retrieve drive speed."
    if guest; then
        local sent
        sent=$(grep -c '^> 1A 08 21' "$handler_log")
        measure retries "get -speed with MODE SENSE refused (05/20/00): page 21h asked $sent times"
        [ "$sent" = 1 ] || fail "the refused MODE SENSE was sent $sent times"
    fi
    compare refused-once
    finish
}

# ------------------------------------------------------------------- mends
mends() {
    # The rewinding nodes are refused before they are opened, with the
    # non-rewinding node of the same mode named: the tape stays where it is.
    begin st-rewinding-node
    start_handler ultrium
    "$probe" "/dev/$vt_sg" 100000000100 >/dev/null # one filemark: the tape is at block 1
    local before after variant rewinding
    before=$("$probe" "/dev/$vt_sg" 34000000000000000000:in=20)
    for variant in "" a; do
        rewinding=/dev/${vt_nst#n}$variant
        run "show-st$variant" show "-dev:$rewinding" -nr
        said "show-st$variant" "cannot use $rewinding: a rewinding node rewinds the tape when it is closed; use /dev/$vt_nst$variant" ||
            fail "$rewinding was not refused with /dev/$vt_nst$variant named: $(head -c 300 "$out/out/show-st$variant.err")"
    done
    after=$("$probe" "/dev/$vt_sg" 34000000000000000000:in=20)
    [ "$after" = "$before" ] || fail "the tape moved: READ POSITION was $before, is $after"
    finish

    # The handler dies under a retension in an interactive session: once the
    # backstore's time-out has passed, the kernel fails the command and the
    # line says the tape position is lost. A new drive then comes up behind
    # the LUN and reports its reset to the command after its first
    # unit-ready answer (it first answers what the dead handler left in the
    # ring, and the kernel drops that answer): the session's next test takes
    # the reset and passes.
    begin lost-position
    start_handler ultrium,slow=1B:30
    rm -f /tmp/session.in
    mkfifo /tmp/session.in
    exec 8<>/tmp/session.in
    timeout -k 5 120 "$tapediag" </tmp/session.in >"$out/out/lost-position.out" 2>"$out/out/lost-position.err" &
    local session=$!
    echo "retension -dev:/dev/$vt_sg -id:x -nr" >&8
    if wait_for 30 grep -q '^> 1B 00 00 00 03' "$handler_log"; then
        kill -KILL "$handler_pid"
        wait "$handler_pid" 2>/dev/null
        handler_pid=
        wait_for 40 grep -q 'Failure on: Retension Tape' "$out/out/lost-position.out" ||
            fail "the retension did not fail once its drive was gone"
        start_handler ultrium,reset=00
        echo "rwtest -id:x -nr -ts:16" >&8
    else
        fail "the retension did not reach the drive"
    fi
    echo e >&8
    wait "$session"
    exec 8>&-
    measure lost-position "retension under a dead handler, then rwtest: $(grep -E -A1 'Failure on|Test completed' \
        "$out/out/lost-position.out" | paste -sd'|'); stderr: $(paste -sd'|' "$out/out/lost-position.err")"
    measure lost-position "the new drive answered: $(grep '^<' "$handler_log" | sort | uniq -c | paste -sd',')"
    [ "$(grep -c 'the tape position is unknown; rewind the tape before the next test' "$out/out/lost-position.err")" = 1 ] ||
        fail "not one line said the position was lost: $(head -c 300 "$out/out/lost-position.err")"
    grep -q '^< 02 6/29/00' "$handler_log" || fail "the new drive's reset reached no command"
    expect_line lost-position "Test completed successfully."
    finish
}

# ---------------------------------------------------------------------- main
if guest; then
    kernel_root=$4
    started=$SECONDS
    if setup_guest "$kernel_root"; then
        measure timing "drives up after $(cut -d' ' -f1 /proc/uptime) s of guest time"
        discovery
        diagnostics
        claim
        permissions
        retries
        mends
    else
        begin setup
        fail "the drives did not come up (see the guest's console)"
        finish
    fi
    stop_handler
    "$source_dir/scripts/tgt-target.sh" stop /dev/shm/tgt
    measure timing "suite ran $((SECONDS - started)) s; guest uptime $(cut -d' ' -f1 /proc/uptime) s"
    touch "$out/done"
else
    diagnostics
    retries
    run show-nst show -dev:sim:ultrium -nr
fi
