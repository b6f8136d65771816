#!/usr/bin/env bash
# Times whole runs of qarvik with many probes in flight (/pN) against the
# one-by-one run (/p1), and checks that every run writes the same response file.
#
#   bench/probes.sh BUILD_DIR [c|b|both] [B_MASK]     (default: c)
#
# BUILD_DIR must hold qarvik and wincmd (a Release build is the fair one); this
# script builds nothing.
# - class c: 10.20.0.0/24 with the time model on (`timing 0.1`: an address
#   where no host answers costs 400 ms, an answering host 0.1 ms), at N = 1, 8,
#   32 and 64;
# - class b: 10.20.0.0/16 without a time model, so process starts bound the
#   run, at N = 1 and 8. B_MASK (for example 255.255.240.0) sweeps a smaller
#   part of it when the whole class B run takes too long.
# The simulated hosts are those of whole_run.sh: the own adapter 10.20.0.10,
# one host in 16 up with a DNS name, one in 64 answering ARP only, one in 128
# down but with a DNS name.
set -euo pipefail

if [[ $# -lt 1 || ! -x "$1/qarvik" || ! -x "$1/wincmd" ]]; then
    echo "usage: $0 BUILD_DIR [c|b|both] [B_MASK]  (BUILD_DIR holding qarvik and wincmd)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
which=${2:-c}
b_mask=${3:-255.255.0.0}
work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-probes-XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/bench_network.sh"

now() { date +%s.%N; }

# timed_run NAME NETWORK ARGS...: one whole run; sets run_seconds.
timed_run() {
    local name=$1 net=$2 dir=$work/$1
    shift 2
    mkdir -p "$dir/work" "$dir/tmp"
    local start end
    start=$(now)
    (cd "$dir/work" && env COMSPEC="$build/wincmd" TMPDIR="$dir/tmp/" QARVIK_WINVER=xp \
        QARVIK_NETWORK="$net" "$build/qarvik" "$@" > "$dir/console.txt" 2> "$dir/errors.txt")
    end=$(now)
    run_seconds=$(echo "$end - $start" | bc -l)
    if [[ -n $(ls -A "$dir/tmp") ]]; then
        echo "  $name left files in its temp folder: $(ls "$dir/tmp" | head -5)" >&2
        exit 1
    fi
}

# series CLASS NETWORK "ARGS" N...: times each N, checks the response files
# against N = 1 and prints the ratios.
series() {
    local class=$1 net=$2 args=$3
    shift 3
    local base_seconds="" n
    printf '  %-5s %10s %12s %22s\n' N "wall time" "ratio to 1" "ratio less the 2 s wait"
    for n in "$@"; do
        # shellcheck disable=SC2086
        timed_run "$class-p$n" "$net" $args "/p$n"
        if [[ -z $base_seconds ]]; then
            base_seconds=$run_seconds
            base=$work/$class-p$n
        elif ! cmp -s "$base/work/rsp.txt" "$work/$class-p$n/work/rsp.txt"; then
            echo "  N=$n: the response file differs from N=$1's" >&2
            exit 1
        fi
        printf '  %-5s %9.2fs %11.1fx %21.1fx\n' "$n" "$run_seconds" \
            "$(echo "$base_seconds / $run_seconds" | bc -l)" \
            "$(echo "($base_seconds - 2) / ($run_seconds - 2)" | bc -l)"
    done
    printf '  response files identical: %d rows each\n' "$(wc -l < "$base/work/rsp.txt")"
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

class_c() {
    write_bench_network "$work/net-c.txt" 254 0.1
    echo "class C, 254 addresses, timing 0.1 (load before: $(load))"
    series c "$work/net-c.txt" "/cC" 1 8 32 64
}

class_b() {
    write_bench_network "$work/net-b.txt" 65534 ""
    echo "class B, mask $b_mask, no time model (load before: $(load))"
    series b "$work/net-b.txt" "/cB /m$b_mask" 1 8
}

case $which in
    c) class_c ;;
    b) class_b ;;
    both) class_c; class_b ;;
    *) echo "class must be c, b or both" >&2; exit 2 ;;
esac
echo "load after: $(load)"
