#!/usr/bin/env bash
# Dead commands never pass for reports: runs through the resident interpreter
# on a /24 of network namespaces in live mode, in which a worker is killed
# while it runs a ping or an ARP query, or the interpreter itself is killed,
# each REPEATS times (20 by default); and runs in NetBEUI mode on a simulated
# browse list (the segment has no NetBIOS hosts) in which a worker is killed
# while it runs nbtstat. Every run ends with exit status 3 and the response
# file as it was, or with status 0 and the whole inventory: never fewer rows.
# Needs root and `ip netns`; without them it exits 77 (skipped).
#
#   tests/live/dead_commands_test.sh QARVIK WINCMD KILL_HOLDER [REPEATS]
set -euo pipefail

qarvik=$(realpath "$1")
wincmd=$(realpath "$2")
killer=$(realpath "$3")
repeats=${4:-20}
source "$(dirname "$0")/segment.sh"
if ! segment_possible; then
    [[ ${QARVIK_LIVE_SEGMENT_REQUIRED:-0} == 1 ]] && { echo "FAIL: needs namespaces"; exit 1; }
    echo "skipped: needs root and ip netns"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-dead-XXXXXX")
trap 'segment_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
segment_start "qd$$"
segment_add_scanner 1
for n in 3 4 5 9 11 14 33 77 128 200 254; do segment_add_host "$n" up; done
segment_add_host 6 no-echo

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
old=$(printf 'old row\r\n' | od -An -tx1)

# one_run NAME ENV... -- ARGS...: qarvik in the scanning namespace from a cold
# neighbour table, its response file starting as "old row"; sets $dir and
# $status, and $killed to the process that kill_holder killed, given the
# arguments in KILL (none: nothing is killed).
one_run() {
    local name=$1
    shift
    local env=()
    while [[ $1 != -- ]]; do env+=("$1"); shift; done
    shift
    dir=$work/$name
    mkdir -p "$dir/tmp"
    printf 'old row\r\n' > "$dir/rsp.txt"
    segment_scan ip neigh flush all
    (cd "$dir" && exec ip netns exec "$SEGMENT_SCAN" env "${env[@]}" QARVIK_WINVER=xp \
        COMSPEC="$wincmd" TMPDIR="$dir/tmp/" "$qarvik" "$@" > console.txt 2> errors.txt) &
    local run=$!
    killed=
    if [[ ${#kill[@]} -gt 0 ]]; then killed=$("$killer" 30000 "$dir/tmp" "${kill[@]}") || true; fi
    status=0
    wait "$run" || status=$?
}

# check NAME REFERENCE: exit 3 with the old file byte for byte and the run's
# message, or exit 0 with the reference's file byte for byte.
check() {
    local name=$1 reference=$2
    case $status in
    0) cmp -s "$reference" "$dir/rsp.txt" ||
           fail "$name: exit 0 with $(wc -l < "$dir/rsp.txt") rows, $(wc -l < "$reference") expected" ;;
    3) [[ $(od -An -tx1 "$dir/rsp.txt") == "$old" ]] || fail "$name: exit 3, response file changed"
       grep -q 'no inventory taken, the response file is left as it was' "$dir/console.txt" ||
           fail "$name: exit 3 without its message" ;;
    *) fail "$name: exit status $status" ;;
    esac
}

# The whole inventories, from runs nobody disturbs.
kill=()
live=(QARVIK_NETWORK=live)
one_run live-reference "${live[@]}" -- /w100 /p32
[[ $status -eq 0 && $(wc -l < "$dir/rsp.txt") -eq 13 ]] ||
    fail "live reference: exit $status, $(wc -l < "$dir/rsp.txt") rows"
live_reference=$dir/rsp.txt
browse=$work/browse.txt
{
    echo "machine QSCAN"
    echo "adapter 10.7.0.1 02-18-00-00-00-01"
    for n in $(seq 10 209); do printf 'browse PC%d 02-18-00-00-00-%02X\n' "$n" "$n"; done
} > "$browse"
simulated=(QARVIK_NETWORK="$browse")
one_run netbeui-reference "${simulated[@]}" -- /cN /p8
[[ $status -eq 0 && $(wc -l < "$dir/rsp.txt") -eq 200 ]] ||
    fail "NetBEUI reference: exit $status, $(wc -l < "$dir/rsp.txt") rows"
netbeui_reference=$dir/rsp.txt

# The worker is killed as it opens the work file its command redirects into
# (ping tmp03, arp tmp04, nbtstat tmp09), in the probe slot of the third job:
# the first one of that slot's files is the report of a host that answers
# (198.18.0.3, the third computer of the browse list). The interpreter is
# killed as one of its workers opens that ping's.
declare -A lost=()
for ((k = 1; k <= repeats; k++)); do
    for target in ping arp interpreter nbtstat; do
        case $target in
        ping) kill=(tmp03_02) ;;
        arp) kill=(tmp04_02) ;;
        interpreter) kill=(tmp03_02 interpreter) ;;
        nbtstat) kill=(tmp09_02) ;;
        esac
        if [[ $target == nbtstat ]]; then
            one_run "$target-$k" "${simulated[@]}" -- /cN /p8
            check "$target-$k" "$netbeui_reference"
        else
            one_run "$target-$k" "${live[@]}" -- /w100 /p32
            check "$target-$k" "$live_reference"
        fi
        [[ -n $killed ]] || fail "$target-$k: no process killed"
        [[ $status -eq 3 ]] && lost[$target]=$((${lost[$target]:-0} + 1))
        rm -rf "$dir"
    done
done
for target in ping arp interpreter nbtstat; do
    echo "$target: $repeats kills, ${lost[$target]:-0} runs ended with exit status 3"
done

if [[ $failures -gt 0 ]]; then
    echo "dead commands: $failures check(s) failed"
    exit 1
fi
echo "dead commands: every check passed"
