#!/usr/bin/env bash
# The CPU of a live sweep of a /20, and where it goes: the segment of
# bench/live.sh (bench/live_layout.sh) with the kernel's default
# neighbour-table limits (gc_thresh1/2/3 = 128/512/1024, set for the run and
# put back after, also on failure), then ROUNDS runs of
#   qarvik /p255 /w500 /n198.18.0.0 /m255.255.240.0   (QARVIK_NETWORK=live)
# each from a cold neighbour table. Prints each round's wall time, CPU (of a
# control group of its own, bench/cpu_group.sh: the run's resident interpreter
# and the commands it forks are no children of qarvik; user + sys of qarvik's
# own process tree beside it) and CPU per swept address, the hosts found,
# and whether the response file equals round 1's (and the file given with
# --rsp, when it exists; when it does not, round 1's is written there). With
# --perf FILE the last round runs under `perf record -g` (every process of the
# tree, cpu-clock sampling) into FILE, and the shares by command, by shared
# object and by symbol follow. The machine's load goes with the figures.
#
#   bench/live_cpu.sh BUILD_DIR [ROUNDS] [--rsp FILE] [--perf FILE]   (root)
set -euo pipefail

usage() { echo "usage: $0 BUILD_DIR [ROUNDS] [--rsp FILE] [--perf FILE]" >&2; exit 2; }
[[ $# -ge 1 && -x "$1/qarvik" && -x "$1/wincmd" ]] || usage
build=$(cd "$1" && pwd)
shift
rounds=3
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then rounds=$1; shift; fi
rsp_file=
perf_file=
while [[ $# -gt 0 ]]; do
    case $1 in
    --rsp) [[ $# -ge 2 ]] || usage; rsp_file=$(realpath -m "$2"); shift 2 ;;
    --perf) [[ $# -ge 2 ]] || usage; perf_file=$(realpath -m "$2"); shift 2 ;;
    *) usage ;;
    esac
done
PATH=$PATH:/usr/sbin:/sbin  # where nmbd is installed
SEGMENT_BITS=20
source "$(dirname "$0")/../tests/live/segment.sh"
source "$(dirname "$0")/live_layout.sh"
source "$(dirname "$0")/cpu_group.sh"
segment_possible || { echo "needs root and ip netns" >&2; exit 2; }
command -v nmbd >/dev/null || { echo "needs nmbd (Debian package samba)" >&2; exit 2; }
[[ -z $perf_file ]] || command -v perf >/dev/null || { echo "needs perf" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-live-cpu-XXXXXX")
trap 'cpu_group_remove; segment_remove; set_limits "${own_limits[@]}"; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
set_limits 128 512 1024
segment_start "qc$$"
live_layout_build

addresses=4094
export LC_ALL=C
found() { tr -d '\r' < "$1" | awk -F, '$3 != "" && $2 != "198.18.0.1"' | wc -l; }
echo "segment: $live_layout_hosts hosts on $SEGMENT_NET.0/20, limits 128/512/1024;" \
     "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$rounds"); do
    dir=$work/round-$round
    mkdir -p "$dir/tmp"
    profile=()
    [[ -n $perf_file && $round -eq $rounds ]] && profile=(perf record -q -e cpu-clock -F 2000 -g -o "$perf_file" --)
    segment_scan ip neigh flush all
    cpu_group_make
    (cd "$dir" && "${profile[@]}" "${cpu_group_enter[@]}" /usr/bin/time -f '%e %U %S' -o "$dir/time" \
        ip netns exec "$SEGMENT_SCAN" env QARVIK_NETWORK=live QARVIK_WINVER=xp \
        COMSPEC="$build/wincmd" TMPDIR="$dir/tmp/" \
        "$build/qarvik" /p255 /w500 /n198.18.0.0 /m255.255.240.0 > "$dir/out" 2> "$dir/err") ||
        echo "round $round: exit status $?"
    touch "$dir/rsp.txt"
    cpu=$(cpu_group_seconds)
    cpu_group_remove
    read -r wall user sys < "$dir/time"
    same=yes
    [[ $round -eq 1 ]] || cmp -s "$dir/rsp.txt" "$work/round-1/rsp.txt" || same=NO
    printf 'round %d: wall %6.2f s  CPU %6.2f s (process tree %.2f: user %.2f, sys %.2f)  %.3f ms/address  %d hosts  rsp as round 1: %s%s\n' \
        "$round" "$wall" "$cpu" "$(echo "$user + $sys" | bc)" "$user" "$sys" \
        "$(echo "$cpu * 1000 / $addresses" | bc -l)" "$(found "$dir/rsp.txt")" "$same" \
        "$([[ -s $dir/err ]] && echo "  stderr: $(head -1 "$dir/err")")"
done
if [[ -n $rsp_file ]]; then
    if [[ -e $rsp_file ]]; then
        cmp -s "$rsp_file" "$work/round-1/rsp.txt" && echo "response file equals $rsp_file" ||
            echo "response file DIFFERS from $rsp_file"
    else
        cp "$work/round-1/rsp.txt" "$rsp_file"
        echo "response file kept as $rsp_file"
    fi
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
[[ -n $perf_file ]] || exit 0
echo "--- shares by command"
perf report -i "$perf_file" --no-children --sort comm --stdio 2>/dev/null | grep -v '^#' | grep . | head -8
echo "--- shares by shared object"
perf report -i "$perf_file" --no-children --sort dso --stdio 2>/dev/null | grep -v '^#' | grep . | head -15
echo "--- shares by symbol"
perf report -i "$perf_file" --no-children --sort dso,sym --stdio -g none 2>/dev/null | grep -v '^#' | grep . | head -60
