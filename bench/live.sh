#!/usr/bin/env bash
# Qarvik in live mode against the scanners people use, on one segment in the
# same run: a /24 of network namespaces (198.18.0.0/24, no link to the
# machine's own network) with 32 hosts of mixed kinds, swept five times each,
# round by round, by
#   - qarvik /p64 /w500 through wincmd with QARVIK_NETWORK=live,
#   - arp-scan on the scanning interface,
#   - nmap -sn -n (host discovery only; ARP on a local segment as root).
# Prints each tool's median wall time, the hosts each found, Qarvik's ratio to
# arp-scan and whether Qarvik found every host either scanner found.
#
#   bench/live.sh BUILD_DIR      (root; BUILD_DIR holds qarvik and wincmd)
set -euo pipefail

if [[ $# -lt 1 || ! -x "$1/qarvik" || ! -x "$1/wincmd" ]]; then
    echo "usage: $0 BUILD_DIR  (BUILD_DIR holding qarvik and wincmd)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
rounds=5
source "$(dirname "$0")/../tests/live/segment.sh"
if ! segment_possible; then
    echo "needs root and ip netns" >&2
    exit 2
fi
missing=()
command -v arp-scan >/dev/null || missing+=(arp-scan)
command -v nmap >/dev/null || missing+=(nmap)
if [[ ${#missing[@]} -gt 0 ]]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-live-bench-XXXXXX")
trap 'segment_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
segment_start "qb$$"

# 32 hosts spread over the /24: one in eight drops ICMP echo, one in ten is
# down, one in three is named; two names have no host.
segment_add_scanner 1
for k in $(seq 0 31); do
    n=$((7 * k + 3))
    kind=up
    ((k % 8 == 7)) && kind=no-echo
    ((k % 10 == 9)) && kind=down
    segment_add_host "$n" "$kind"
    ((k % 3 == 0)) && segment_name "$SEGMENT_NET.$n" "host-$n"
done
segment_name "$SEGMENT_NET.250" gone-1
segment_name "$SEGMENT_NET.251" gone-2
segment_name "$SEGMENT_NET.1" scanner

now() { date +%s.%N; }

# timed NAME ROUND COMMAND...: runs it in the scanning namespace from a cold
# neighbour table, keeps its output, appends its wall time to NAME.times.
timed() {
    local name=$1 round=$2 start end
    shift 2
    segment_scan ip neigh flush all
    start=$(now)
    segment_scan "$@" > "$work/$name-$round.out" 2> "$work/$name-$round.err"
    end=$(now)
    echo "$end - $start" | bc -l >> "$work/$name.times"
}

qarvik_run() {
    local dir=$work/qarvik-$1
    mkdir -p "$dir/tmp"
    (cd "$dir" && timed qarvik "$1" env QARVIK_NETWORK=live QARVIK_WINVER=xp \
        COMSPEC="$build/wincmd" TMPDIR="$dir/tmp/" "$build/qarvik" /p64 /w500)
}

# The other hosts each run found, one address a line, sorted (as comm wants).
export LC_ALL=C
found_by_qarvik() {
    tr -d '\r' < "$work/qarvik-$1/rsp.txt" | awk -F, '$3 != "" && $2 != "198.18.0.1" { print $2 }' | sort
}
found_by_arp_scan() { awk '/^198\.18\.0\./ { print $1 }' "$work/arp-scan-$1.out" | sort -u; }
found_by_nmap() { awk '/Status: Up/ && $2 != "198.18.0.1" { print $2 }' "$work/nmap-$1.out" | sort; }

median() { sort -n "$work/$1.times" | sed -n "$(((rounds + 1) / 2))p"; }

for round in $(seq 1 "$rounds"); do
    qarvik_run "$round"
    timed arp-scan "$round" arp-scan -I q1 -x -q "$SEGMENT_NET.0/24"
    timed nmap "$round" nmap -sn -n -e q1 -oG - "$SEGMENT_NET.0/24"
done

echo "segment: 32 hosts on $SEGMENT_NET.0/24, $rounds rounds (load: $(cut -d' ' -f1-3 /proc/loadavg))"
for tool in qarvik arp-scan nmap; do
    "found_by_${tool//-/_}" 1 > "$work/$tool.found"
    for round in $(seq 2 "$rounds"); do
        cmp -s "$work/$tool.found" <("found_by_${tool//-/_}" "$round") ||
            echo "  $tool: round $round found other hosts than round 1"
    done
    printf '  %-9s median %6.2f s  (runs: %s)  %2d hosts: %s\n' "$tool" "$(median "$tool")" \
        "$(sort -n "$work/$tool.times" | xargs printf '%.2f ' | sed 's/ $//')" \
        "$(wc -l < "$work/$tool.found")" "$(sort -V "$work/$tool.found" | sed 's/198\.18\.0\.//' | xargs)"
done
printf '  names Qarvik gives (arp-scan gives none): %s\n' \
    "$(tr -d '\r' < "$work/qarvik-1/rsp.txt" | awk -F, '$1 != $2 { printf "%s ", $1 }')"
printf '  Qarvik / arp-scan: %.2fx  (less the fixed 2 s after the adapter tool: %.2fx)\n' \
    "$(echo "$(median qarvik) / $(median arp-scan)" | bc -l)" \
    "$(echo "($(median qarvik) - 2) / $(median arp-scan)" | bc -l)"
missed=$(sort -u "$work/arp-scan.found" "$work/nmap.found" | comm -23 - "$work/qarvik.found")
if [[ -z $missed ]]; then
    echo "  Qarvik found every host that arp-scan or nmap found"
else
    echo "  Qarvik missed: $missed"
fi
