#!/usr/bin/env bash
# Times whole runs of qarvik against the stand-in platform and compares them
# with the floor: the same tool runs started one by one from the shell, with
# nothing of the program around them.
#
#   bench/whole_run.sh BUILD_DIR [c|b|both]     (default: c)
#
# BUILD_DIR must hold qarvik and wincmd (a Release build is the fair one); this
# script builds nothing. Class c sweeps the 254 addresses of 10.20.0.0/24,
# class b the 65,534 addresses of 10.20.0.0/16 (that one takes minutes).
# The simulated network is generated: the own adapter 10.20.0.10, one host in
# 16 up with a DNS name, one in 64 answering ARP only, one in 128 down but
# with a DNS name.
set -euo pipefail

if [[ $# -lt 1 || ! -x "$1/qarvik" || ! -x "$1/wincmd" ]]; then
    echo "usage: $0 BUILD_DIR [c|b|both]  (BUILD_DIR holding qarvik and wincmd)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
which=${2:-c}
qarvik=$build/qarvik
wincmd=$build/wincmd
work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-whole-run-XXXXXX")
trap 'rm -rf "$work"' EXIT

source "$(dirname "$0")/bench_network.sh"
network=$work/network.txt
write_bench_network "$network" 65534

now() { date +%s.%N; }

# addresses CLASS: the swept addresses, one a line.
addresses() {
    if [[ $1 == c ]]; then
        seq 1 254 | sed 's/^/10.20.0./'
    else
        awk 'BEGIN { for (k = 1; k < 65535; k++) printf "10.20.%d.%d\n", int(k / 256), k % 256 }'
    fi
}

# One whole run; sets run_seconds and rows, keeps /usr/bin/time's report.
whole_run() {
    local class=$1 dir=$work/run-$1
    mkdir -p "$dir/work" "$dir/tmp"
    local start end
    start=$(now)
    (cd "$dir/work" && env COMSPEC="$wincmd" TMPDIR="$dir/tmp/" QARVIK_WINVER=xp \
        QARVIK_NETWORK="$network" /usr/bin/time -v -o "$dir/time.txt" \
        "$qarvik" "/c${class^^}" > "$dir/console.txt" 2> "$dir/errors.txt")
    end=$(now)
    run_seconds=$(echo "$end - $start" | bc -l)
    rows=$(wc -l < "$dir/work/rsp.txt")
    peak_kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$dir/time.txt")
}

# The same tool runs, bare: ipconfig, ping and arp per swept address, one ping
# per response row, and the nine deletions of the run's end.
floor_run() {
    local class=$1 dir=$work/floor-$1
    mkdir -p "$dir"
    local t="$dir/" a start end
    export QARVIK_WINVER=xp QARVIK_NETWORK="$network"
    addresses "$class" > "$dir/addresses.txt"
    tr -d '\r' < "$work/run-$class/work/rsp.txt" | cut -d, -f2 > "$dir/rows.txt"
    start=$(now)
    # A tool's exit status is not looked at, as in the program (ping fails
    # for a silent host).
    {
        "$wincmd" /c "ipconfig /all > ${t}tmp00.txt" < /dev/null || true
        while read -r a; do
            "$wincmd" /c "ping -a -n 1 $a >> ${t}tmp03.txt" < /dev/null || true
            "$wincmd" /c "arp -a $a >> ${t}tmp04.txt" < /dev/null || true
        done < "$dir/addresses.txt"
        while read -r a; do
            "$wincmd" /c "ping -a -n 1 $a >> ${t}tmp06.txt" < /dev/null || true
        done < "$dir/rows.txt"
        for k in 00 01 02 03 04 05 06 07 11; do
            "$wincmd" /c "del ${t}tmp$k.txt" < /dev/null || true
        done
    } > /dev/null 2>&1
    end=$(now)
    floor_seconds=$(echo "$end - $start" | bc -l)
    probes=$(wc -l < "$dir/addresses.txt")
}

report() {
    local class=$1
    whole_run "$class"
    floor_run "$class"
    # The adapter report is given a fixed 2 s after its tool (a wait, not work).
    local net=$(echo "$run_seconds - 2" | bc -l)
    printf 'class %s: %d addresses swept, %d rows\n' "${class^^}" "$probes" "$rows"
    printf '  whole run          %8.2f s  (peak RSS %s kB)\n' "$run_seconds" "$peak_kb"
    printf '  less the 2 s wait  %8.2f s\n' "$net"
    printf '  floor              %8.2f s  (%d tool runs)\n' "$floor_seconds" \
        $((1 + 2 * probes + rows + 9))
    printf '  run / floor        %8.3f  (less the wait: %.3f)\n' \
        "$(echo "$run_seconds / $floor_seconds" | bc -l)" "$(echo "$net / $floor_seconds" | bc -l)"
}

case $which in
    c) report c ;;
    b) report b ;;
    both) report c; report b ;;
    *) echo "class must be c, b or both" >&2; exit 2 ;;
esac
