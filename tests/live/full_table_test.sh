#!/usr/bin/env bash
# A live sweep of a /20 with the kernel's default neighbour-table limits
# (gc_thresh1/2/3 = 128/512/1024, set for the test and put back after, also on
# failure): 4094 addresses at /p255 would make far more entries than the table
# holds, and every host must still be listed with its MAC, with no packet
# refused by the table. Twice as root (the probes remove their own unresolved
# entries) and once as a user without privileges (the probes wait for the
# table to drain); one line may say that the limit slowed the sweep.
# Without privileges the probes count the failed entries as room that the
# kernel reclaims on demand, and in about half of the runs it refuses one
# entry while it reclaims them in bulk: the probe's send waits and goes again,
# so that round allows a few refusals and still checks every host and MAC.
# No round may send its reports to the disk one by one: the runs work on a
# file system of the test's own (an ext4 image on a loop device), whose
# writes are the runs' alone.
# Needs root, `ip netns`, losetup and mkfs.ext4; without them it exits 77
# (skipped).
# ROUNDS picks some of the rounds root-1, root-2 and unprivileged (default:
# all three); the sanitizer build, whose every probe costs ten times the CPU,
# runs one root round and the unprivileged one.
#
#   tests/live/full_table_test.sh QARVIK WINCMD [ROUNDS...]
set -euo pipefail

qarvik=$(realpath "$1")
wincmd=$(realpath "$2")
shift 2
rounds=("$@")
[[ ${#rounds[@]} -gt 0 ]] || rounds=(root-1 root-2 unprivileged)
for round in "${rounds[@]}"; do
    [[ $round =~ ^(root-1|root-2|unprivileged)$ ]] || { echo "unknown round: $round"; exit 2; }
done
wanted() { [[ " ${rounds[*]} " == *" $1 "* ]]; }
SEGMENT_BITS=20
source "$(dirname "$0")/segment.sh"
if ! segment_possible; then
    [[ ${QARVIK_LIVE_SEGMENT_REQUIRED:-0} == 1 ]] && { echo "FAIL: needs namespaces"; exit 1; }
    echo "skipped: needs root and ip netns"
    exit 77
fi
if ! command -v losetup >/dev/null || ! command -v mkfs.ext4 >/dev/null; then
    [[ ${QARVIK_LIVE_SEGMENT_REQUIRED:-0} == 1 ]] && { echo "FAIL: needs losetup and mkfs.ext4"; exit 1; }
    echo "skipped: needs losetup and mkfs.ext4"
    exit 77
fi

limits=(net.ipv4.neigh.default.gc_thresh1 net.ipv4.neigh.default.gc_thresh2
        net.ipv4.neigh.default.gc_thresh3)
defaults=(128 512 1024)
read -r -a before <<< "$(sysctl -n "${limits[@]}" | xargs)"
# Puts back each limit this test set, unless someone changed it since.
restore_limits() {
    local i
    for i in 0 1 2; do
        [[ $(sysctl -n "${limits[i]}") == "${defaults[i]}" ]] &&
            sysctl -qw "${limits[i]}=${before[i]}"
    done
    return 0
}
work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-full-table-XXXXXX")
loop=
# Unmounts the runs' file system and frees its loop device, if made.
remove_disk() {
    mountpoint -q "$work/disk" && umount "$work/disk"
    [[ -n $loop ]] && losetup -d "$loop"
    return 0
}
trap 'segment_remove; restore_limits; remove_disk; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
truncate -s 128M "$work/disk.img"
mkfs.ext4 -q -F "$work/disk.img"
loop=$(losetup --find --show "$work/disk.img")
mkdir "$work/disk"
mount "$loop" "$work/disk"
for i in 0 1 2; do sysctl -qw "${limits[i]}=${defaults[i]}"; done
segment_start "qf$$"

# Two dozen hosts 170 addresses apart over the whole /20: every fifth drops
# ICMP echo (ARP still finds it), one is down.
segment_add_scanner 1
segment_name 198.18.0.1 qscan
# The own row takes the machine's host name, which the scanning namespace
# shares, before the hosts file's.
expected=("$(hostname),198.18.0.1,$(segment_mac 1 | tr : -)")
for ((k = 0; k < 24; k++)); do
    n=$((5 + 170 * k))
    kind=up
    ((k % 5 == 4)) && kind=no-echo
    ((k == 19)) && kind=down
    segment_add_host "$n" "$kind"
    address=$(segment_address "$n")
    [[ $kind == down ]] || expected+=("$address,$address,$(segment_mac "$n" | tr : -)")
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# How often the kernel refused a new neighbour entry for want of room: the
# table_fulls column of every processor's line, summed.
table_fulls() {
    local line total=0
    while read -r line; do total=$((total + 0x${line##* })); done < <(tail -n +2 /proc/net/stat/arp_cache)
    echo "$total"
}

# Write requests completed by the runs' own file system (the fifth field of
# its loop device's statistics), once what is already written has gone.
disk_writes() {
    sync -f "$work/disk"
    awk '{ print $5 }' "/sys/block/${loop#/dev/}/stat"
}

# sweep NAME [USER [REFUSALS]]: one run at /p255 over the /20 from a cold
# table, as root or as USER (the programs copied where it may run them), with
# at most REFUSALS entries refused by the kernel (default none).
sweep() {
    local name=$1 user=${2:-} allowed=${3:-0} dir=$work/disk/$1 as=() program=$qarvik interpreter=$wincmd
    mkdir -p "$dir/tmp"
    if [[ -n $user ]]; then
        segment_copy_programs "$qarvik" "$wincmd" "$dir"
        chown -R "$user" "$dir" && chmod 711 "$work"
        as=(setpriv --reuid="$user" --regid=nogroup --clear-groups)
        program=$dir/qarvik interpreter=$dir/wincmd
    fi
    segment_scan ip neigh flush all
    local started=$SECONDS status=0 fulls_before writes_before
    fulls_before=$(table_fulls)
    writes_before=$(disk_writes)
    (cd "$dir" && segment_scan env QARVIK_NETWORK=live QARVIK_WINVER=xp \
        COMSPEC="$interpreter" TMPDIR="$dir/tmp/" "${as[@]}" "$program" /p255 /w500 /n198.18.0.0 /m255.255.240.0 \
        > console.txt 2> errors.txt) || status=$?
    echo "$name: $((SECONDS - started)) s, $(grep -c . "$dir/errors.txt") error line(s)" \
         "(load $(cut -d' ' -f1 /proc/loadavg))"
    [[ $status -eq 0 ]] || fail "$name: exit status $status"
    local refused=$(($(table_fulls) - fulls_before))
    [[ $refused -le $allowed ]] || fail "$name: the kernel refused $refused new neighbour entries: the table was overfilled"
    # Reports live for a moment: a sweep that sends them to the disk one by one
    # (some 8000 writes here) takes minutes where the disk allows a few
    # hundred writes a second.
    local writes_after
    writes_after=$(disk_writes)
    echo "$name: $((writes_after - writes_before)) writes to the runs' file system"
    if ((writes_after - writes_before > 1000)); then
        fail "$name: $((writes_after - writes_before)) writes to the disk of the work folder"
    fi
    touch "$dir/rsp.txt"
    if ! cmp -s <(printf '%s\r\n' "${expected[@]}") "$dir/rsp.txt"; then
        fail "$name: response file differs (expected <, written >)"
        diff <(printf '%s\n' "${expected[@]}") <(tr -d '\r' < "$dir/rsp.txt") || true
    fi
    [[ -z $(ls -A "$dir/tmp") ]] || fail "$name: left work files: $(ls -A "$dir/tmp" | xargs)"
}

# check_errors NAME: nothing on standard error but, at most, the one line that
# says the limit slowed the sweep (as root only others' entries can fill the
# table: the machine's other users share it).
check_errors() {
    local errors=$work/disk/$1/errors.txt
    if [[ $(grep -c . "$errors") -gt 1 ]] ||
        grep -qv 'gc_thresh3 (now 1024) lets them start at once$' "$errors"; then
        fail "$1: error output: $(head -3 "$errors")"
    fi
}

for round in root-1 root-2; do
    wanted "$round" || continue
    sweep "$round"
    check_errors "$round"
done

# Without privileges nothing can be removed: the table fills and drains.
if wanted unprivileged && command -v setpriv >/dev/null; then
    segment_scan sysctl -qw net.ipv4.ping_group_range="0 2147483647"
    sweep unprivileged nobody 3
    check_errors unprivileged
elif wanted unprivileged; then
    fail "unprivileged: needs setpriv"
fi

if [[ $failures -gt 0 ]]; then
    echo "full neighbour table: $failures check(s) failed"
    exit 1
fi
echo "full neighbour table: every check passed"
