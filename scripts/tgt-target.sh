#!/usr/bin/env bash
# Starts and stops a private tgt iSCSI target on 127.0.0.1 with one tape LUN,
# identified as an Ultrium drive, for the integration suite, the differential
# check and the benchmark.
#
#   scripts/tgt-target.sh start STATE_DIR [USER PASSWORD]
#       Starts tgtd on a free iSCSI port with its own control port, a tape
#       image in STATE_DIR (put STATE_DIR in /dev/shm for speed) on LUN 1,
#       a small disk on LUN 2 (tgt takes persistent reservations on disk
#       LUNs only: the reservation tests use it), and CHAP when USER and
#       PASSWORD are given. Prints the drive's URL
#       (without the password). Exits 2, with one line on standard error,
#       when tgtd cannot start here (for instance without root). When
#       TGT_TARGET_OWNER names a process, the target is stopped once that
#       process ends without stopping it (a test that crashed).
#   scripts/tgt-target.sh drop STATE_DIR
#       Closes every initiator's connection, as a network failure would.
#   scripts/tgt-target.sh stop STATE_DIR
#       Deletes the target and stops that tgtd (it ignores SIGTERM): by its
#       control port first, then by its PID.
set -uo pipefail

IQN_PREFIX=iqn.2026-12.test.tapediag
TID=1
LUN=1
DISK_LUN=2

say() { echo "tgt-target: $*" >&2; }

port_in_use() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# A free port from FIRST to LAST (tgtd takes control ports up to 32767).
free_port() {
    local first=$1 last=$2 port
    for _ in $(seq 1 50); do
        port=$((first + RANDOM % (last - first + 1)))
        port_in_use "$port" || { echo "$port"; return 0; }
    done
    return 1
}

admin() {
    tgtadm -C "$(cat "$state/control")" --lld iscsi "$@"
}

stop() {
    state=$1
    [ -f "$state/pid" ] || return 0
    local pid
    pid=$(cat "$state/pid")
    if [ -f "$state/control" ]; then
        admin --op delete --mode target --tid "$TID" --force >/dev/null 2>&1
        tgtadm -C "$(cat "$state/control")" --op delete --mode system >/dev/null 2>&1
    fi
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
        for _ in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    rm -f "$state/pid"
}

drop() {
    state=$1
    local session= line
    while read -r line; do
        case $line in
            Session:*) session=${line#Session: } ;;
            Connection:*) admin --op delete --mode conn --tid "$TID" --sid "$session" --cid "${line#Connection: }" ;;
        esac
    done < <(admin --op show --mode conn --tid "$TID")
}

start() {
    state=$1
    local user=${2:-} password=${3:-}
    mkdir -p "$state" || return 2
    if [ -f "$state/pid" ] && kill -0 "$(cat "$state/pid")" 2>/dev/null; then
        say "a target of $state is running already"
        return 2
    fi
    if [ "$(id -u)" -ne 0 ]; then
        say "tgtd needs root; it cannot start here"
        return 2
    fi
    if ! command -v tgtd >/dev/null || ! command -v tgtadm >/dev/null || ! command -v tgtimg >/dev/null; then
        say "tgt is not installed (scripts/install-deps.sh installs it)"
        return 2
    fi
    local image=$state/tape.img
    rm -f "$image"
    tgtimg --op new --device-type tape --barcode TAPEDIAG1 --size 4096 --type data --file "$image" >/dev/null ||
        { say "tgtimg cannot make a tape image in $state"; return 2; }
    local disk=$state/disk.img
    truncate -s 1M "$disk" || { say "cannot make a disk image in $state"; return 2; }

    local attempt port control pid
    for attempt in 1 2 3 4 5; do
        # Below the kernel's ephemeral range (32768 and up), where a port
        # that nothing listens on may still be some connection's own.
        port=$(free_port 20000 32767) && control=$(free_port 10000 19999) || { say "no free port"; return 2; }
        [ "$port" != "$control" ] || continue
        echo "$control" >"$state/control"
        tgtd -f -C "$control" --iscsi "portal=127.0.0.1:$port" >"$state/tgtd.log" 2>&1 &
        pid=$!
        echo "$pid" >"$state/pid"
        # Ready when its control port answers and its portal listens.
        for _ in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            if tgtadm -C "$control" --op show --mode system >/dev/null 2>&1 && port_in_use "$port"; then
                break
            fi
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null && port_in_use "$port"; then
            break
        fi
        stop "$state"
        pid=
    done
    if [ -z "$pid" ]; then
        say "tgtd does not start here: $(grep -v -e RDMA -e oom-killer -e nr_open -e scheduler -e notification \
            "$state/tgtd.log" | tail -1)"
        return 2
    fi
    echo "$port" >"$state/port"

    local iqn=$IQN_PREFIX:tape
    if ! { admin --op new --mode target --tid "$TID" -T "$iqn" &&
        admin --op new --mode logicalunit --tid "$TID" --lun "$LUN" -b "$image" --device-type tape --bstype ssc &&
        admin --op new --mode logicalunit --tid "$TID" --lun "$DISK_LUN" -b "$disk" &&
        admin --op update --mode logicalunit --tid "$TID" --lun "$LUN" \
            --params "vendor_id=TESSARA,product_id=ULTRIUM 2,product_rev=117A,scsi_sn=HU12345678" &&
        admin --op update --mode target --tid "$TID" -n MaxRecvDataSegmentLength -v 262144 &&
        admin --op update --mode target --tid "$TID" -n MaxXmitDataSegmentLength -v 262144 &&
        admin --op bind --mode target --tid "$TID" -I 127.0.0.1; } >"$state/tgtadm.log" 2>&1; then
        say "tgtd does not take the tape LUN (see $state/tgtadm.log)"
        stop "$state"
        return 2
    fi
    local credentials=
    if [ -n "$user" ]; then
        if ! { admin --op new --mode account --user "$user" --password "$password" &&
            admin --op bind --mode account --tid "$TID" --user "$user"; } >>"$state/tgtadm.log" 2>&1; then
            say "tgtd does not take the CHAP account (see $state/tgtadm.log)"
            stop "$state"
            return 2
        fi
        credentials="$user@"
    fi
    [ -z "${TGT_TARGET_OWNER:-}" ] || watch_owner "$state" "$TGT_TARGET_OWNER"
    echo "iscsi://${credentials}127.0.0.1:$port/$iqn/$LUN"
}

# Stops the target once `owner` is gone; ends by itself once the target is
# stopped. It holds none of the caller's streams.
watch_owner() {
    local state=$1 owner=$2
    (
        while [ -f "$state/pid" ] && kill -0 "$owner" 2>/dev/null; do
            sleep 1
        done
        [ -f "$state/pid" ] && stop "$state"
    ) </dev/null >/dev/null 2>&1 &
}

case ${1:-} in
    start) shift; [ $# -ge 1 ] || { say "usage: $0 start STATE_DIR [USER PASSWORD]"; exit 2; }; start "$@" ;;
    stop) shift; [ $# -eq 1 ] || { say "usage: $0 stop STATE_DIR"; exit 2; }; stop "$1" ;;
    drop) shift; [ $# -eq 1 ] || { say "usage: $0 drop STATE_DIR"; exit 2; }; drop "$1" ;;
    *) say "usage: $0 start STATE_DIR [USER PASSWORD] | drop STATE_DIR | stop STATE_DIR"; exit 2 ;;
esac
