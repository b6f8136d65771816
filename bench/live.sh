#!/usr/bin/env bash
# Qarvik in live mode against the scanners people use, on one segment in the
# same run: a /20 of network namespaces (198.18.0.0/20, no link to the
# machine's own network) with 120 hosts of mixed kinds, 32 of them in its
# first /24, four of which run Samba's NetBIOS name server (nmbd). Three
# rounds, each sweeping the /24 and then the /20 (twice: with the neighbour
# table's limits raised, and with the limits the machine had when the bench
# started, net.ipv4.neigh.default.gc_thresh1/2/3) with
#   - qarvik /p255 /w500 through wincmd with QARVIK_NETWORK=live (the /20 with
#     /n198.18.0.0 /m255.255.240.0),
#   - arp-scan on the scanning interface,
#   - nmap -sn -n (host discovery only; ARP on a local segment as root),
#   - nbtscan (NetBIOS node-status requests to every address),
#   - qarvik /cN /p255 /w500 (NetBEUI mode: net view and nbtstat -a), which
#     sweeps the scanner's connected subnet: for these runs the scanner's
#     address is a /24 one (the /24 runs alone).
# Prints each run's median wall time and CPU time (of a control group of its
# own, bench/cpu_group.sh: everything the run started, Qarvik's resident
# interpreter and its commands too), the hosts each found, Qarvik's ratios to the scanners,
# whether Qarvik found every host arp-scan or nmap found and named every host
# nbtscan named, and whether NetBEUI mode listed nbtscan's computers with
# their real MACs.
#
#   bench/live.sh BUILD_DIR [--24-only]   (root; BUILD_DIR holds qarvik and
#                                          wincmd; --24-only: no /20 runs)
set -euo pipefail

if [[ $# -lt 1 || ! -x "$1/qarvik" || ! -x "$1/wincmd" || ($# -eq 2 && $2 != --24-only) || $# -gt 2 ]]; then
    echo "usage: $0 BUILD_DIR [--24-only]  (BUILD_DIR holding qarvik and wincmd)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
# 20own: the /20 with the machine's own neighbour-table limits.
sizes=(24 20 20own)
[[ ${2:-} == --24-only ]] && sizes=(24)
PATH=$PATH:/usr/sbin:/sbin  # where nmbd is installed
rounds=3
SEGMENT_BITS=20
source "$(dirname "$0")/../tests/live/segment.sh"
source "$(dirname "$0")/live_layout.sh"
source "$(dirname "$0")/cpu_group.sh"
if ! segment_possible; then
    echo "needs root and ip netns" >&2
    exit 2
fi
missing=()
command -v arp-scan >/dev/null || missing+=(arp-scan)
command -v nmap >/dev/null || missing+=(nmap)
command -v nbtscan >/dev/null || missing+=(nbtscan)
# Not installed here: Samba's package starts its services on the machine's own
# network unless told not to, as .ci/run does.
if ! command -v nmbd >/dev/null; then
    echo "needs nmbd (Debian package samba, its services kept from starting as .ci/run keeps them)" >&2
    exit 2
fi
if [[ ${#missing[@]} -gt 0 ]]; then
    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# The hosts are namespaces of this machine and share its one neighbour table
# with the scanner (1024 entries by default, net.ipv4.neigh.default.gc_thresh3).
# A sweep that asks for every address of a /20 fills that table unless it
# keeps within it, and a host whose kernel finds the table full cannot answer
# ARP, which on a segment of real machines, each with a table of its own, it
# could. So the /20 runs twice: with the machine's own limits, which Qarvik
# must live with, and with limits raised far beyond the sweep. The limits the
# machine had are put back at the end.
raised_limits=("${own_limits[0]}" 8192 16384)
work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-live-bench-XXXXXX")
trap 'cpu_group_remove; segment_remove; set_limits "${own_limits[@]}"; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
set_limits "${raised_limits[@]}"
segment_start "qb$$"

live_layout_build
hosts_made=$live_layout_hosts

# timed NAME ROUND COMMAND...: runs it in the scanning namespace from a cold
# neighbour table, keeps its output, appends "wall cpu" to NAME.times.
timed() {
    local name=$1 round=$2
    shift 2
    segment_scan ip neigh flush all
    cpu_group_make
    "${cpu_group_enter[@]}" ip netns exec "$SEGMENT_SCAN" \
        /usr/bin/time -f '%e' -o "$work/$name-$round.time" "$@" \
        > "$work/$name-$round.out" 2> "$work/$name-$round.err"
    printf '%s %s\n' "$(cat "$work/$name-$round.time")" "$(cpu_group_seconds)" >> "$work/$name.times"
    cpu_group_remove
}

# qarvik_run NAME ROUND ARGS...
qarvik_run() {
    local name=$1 round=$2 dir=$work/$1-$2
    shift 2
    mkdir -p "$dir/tmp"
    (cd "$dir" && timed "$name" "$round" env QARVIK_NETWORK=live QARVIK_WINVER=xp \
        COMSPEC="$build/wincmd" TMPDIR="$dir/tmp/" "$build/qarvik" "$@")
}

# netbeui_run NAME ROUND: qarvik /cN with the scanner's address in the first
# /24, the segment's /20 again afterwards.
netbeui_run() {
    segment_scan ip addr del "$SEGMENT_NET.1/$SEGMENT_BITS" dev q1
    segment_scan ip addr add "$SEGMENT_NET.1/24" dev q1
    qarvik_run "$1" "$2" /cN /p255 /w500
    segment_scan ip addr del "$SEGMENT_NET.1/24" dev q1
    segment_scan ip addr add "$SEGMENT_NET.1/$SEGMENT_BITS" dev q1
}

# The other hosts each run found, one address a line, sorted (as comm wants).
export LC_ALL=C
found_by_qarvik() {
    tr -d '\r' < "$work/$1/rsp.txt" | awk -F, '$3 != "" && $2 != "198.18.0.1" { print $2 }' | sort
}
found_by_arp_scan() { awk '/^198\.18\./ { print $1 }' "$work/$1.out" | sort -u; }
found_by_nmap() { awk '/Status: Up/ && $2 != "198.18.0.1" { print $2 }' "$work/$1.out" | sort; }
names_by_qarvik() { tr -d '\r' < "$work/$1/rsp.txt" | awk -F, '$1 != $2' | wc -l; }
# "address name" of every host that nbtscan / Qarvik names, sorted.
named_by_nbtscan() { awk '/^198\.18\./ { print $1, $2 }' "$work/$1.out" | sort; }
# "name MAC" of every computer NetBEUI mode listed, and of nbtscan's computers
# with their real MACs (the segment's host N has 02-18-00-00-HH-LL), sorted.
listed_by_netbeui() { tr -d '\r' < "$work/$1/rsp.txt" | tr , ' ' | sort; }
real_macs_of_nbtscan() {
    awk '{ split($1, a, "."); printf "%s 02-18-00-00-%02X-%02X\n", $2, a[3], a[4] }' \
        "$work/nbtscan-$1.found" | sort
}
# How many of nbtscan's computers it showed with an all-zero MAC.
zero_macs_of_nbtscan() { grep -c ' 00:00:00:00:00:00$' "$work/$1.out" || true; }
named_by_qarvik() { tr -d '\r' < "$work/$1/rsp.txt" | awk -F, '$1 != $2 { print $2, $1 }' | sort; }

# median NAME FIELD: of the rounds' wall times (1) or CPU times (2).
median() { cut -d' ' -f"$2" "$work/$1.times" | sort -n | sed -n "$(((rounds + 1) / 2))p"; }
ratio() { echo "$(median "$1" 1) / $(median "$2" 1)" | bc -l; }

for round in $(seq 1 "$rounds"); do
    qarvik_run qarvik-24 "$round" /p255 /w500
    timed arp-scan-24 "$round" arp-scan -I q1 -x -q "$SEGMENT_NET.0/24"
    timed nmap-24 "$round" nmap -sn -n -e q1 -oG - "$SEGMENT_NET.0/24"
    timed nbtscan-24 "$round" nbtscan -q "$SEGMENT_NET.0/24"
    netbeui_run netbeui-24 "$round"
    [[ ${#sizes[@]} -gt 1 ]] || continue
    for size in 20 20own; do
        [[ $size == 20own ]] && set_limits "${own_limits[@]}"
        qarvik_run "qarvik-$size" "$round" /p255 /w500 /n198.18.0.0 /m255.255.240.0
        timed "arp-scan-$size" "$round" arp-scan -I q1 -x -q "$SEGMENT_NET.0/20"
        timed "nmap-$size" "$round" nmap -sn -n -e q1 -oG - "$SEGMENT_NET.0/20"
        timed "nbtscan-$size" "$round" nbtscan -q "$SEGMENT_NET.0/20"
    done
    set_limits "${raised_limits[@]}"
done

echo "segment: $hosts_made hosts on $SEGMENT_NET.0/20, 32 of them in $SEGMENT_NET.0/24;" \
     "$rounds rounds (load: $(cut -d' ' -f1-3 /proc/loadavg))"
for size in "${sizes[@]}"; do
    case $size in
    20) echo "/20, neighbour-table limits raised to ${raised_limits[*]}:" ;;
    20own) echo "/20, the machine's own neighbour-table limits ${own_limits[*]}:" ;;
    *) echo "/$size:" ;;
    esac
    for tool in qarvik arp-scan nmap nbtscan; do
        run=$tool-$size
        if [[ $tool == nbtscan ]]; then
            named_by_nbtscan "$run-1" > "$work/$run.found"
        else
            "found_by_${tool//-/_}" "$run-1" > "$work/$run.found"
        fi
        for round in $(seq 2 "$rounds"); do
            [[ $tool == nbtscan ]] && continue
            differ=$(comm -3 "$work/$run.found" <("found_by_${tool//-/_}" "$run-$round") | xargs)
            [[ -z $differ ]] ||
                echo "  $tool: round $round found other hosts than round 1 (either, not both: $differ)"
        done
        printf '  %-9s median %6.2f s  CPU %6.2f s  (wall: %s)  %3d hosts\n' "$tool" \
            "$(median "$run" 1)" "$(median "$run" 2)" \
            "$(cut -d' ' -f1 "$work/$run.times" | xargs printf '%.2f ' | sed 's/ $//')" \
            "$(wc -l < "$work/$run.found")"
    done
    printf '  names Qarvik gives (arp-scan and nmap give none): %s\n' "$(names_by_qarvik "qarvik-$size-1")"
    echo "  nbtscan named: $(xargs < "$work/nbtscan-$size.found")"
    for round in $(seq 1 "$rounds"); do
        unnamed=$(cut -d' ' -f1 "$work/nbtscan-$size.found" |
                  comm -23 - <(named_by_qarvik "qarvik-$size-$round" | cut -d' ' -f1) | xargs)
        [[ -z $unnamed ]] || echo "  Qarvik round $round did not name: $unnamed"
    done
    echo "  Qarvik named (round 1) each host nbtscan named as: $(named_by_qarvik "qarvik-$size-1" |
        join - <(cut -d' ' -f1 "$work/nbtscan-$size.found") | xargs)"
    missed=$(sort -u "$work/arp-scan-$size.found" "$work/nmap-$size.found" |
             comm -23 - "$work/qarvik-$size.found" | xargs)
    if [[ -z $missed ]]; then
        echo "  Qarvik found every host that arp-scan or nmap found"
    else
        echo "  Qarvik missed: $missed"
    fi
    errors=$(cat "$work"/qarvik-"$size"-*.err | grep -cv '^Command exited' || true)
    [[ $errors -eq 0 ]] || echo "  Qarvik's runs wrote $errors error lines, first: $(head -1 "$work/qarvik-$size-1.err")"
    [[ $size == 24 ]] || continue
    printf '  NetBEUI  median %6.2f s  CPU %6.2f s  (wall: %s)  %3d computers: %s\n' \
        "$(median "netbeui-$size" 1)" "$(median "netbeui-$size" 2)" \
        "$(cut -d' ' -f1 "$work/netbeui-$size.times" | xargs printf '%.2f ' | sed 's/ $//')" \
        "$(listed_by_netbeui "netbeui-$size-1" | wc -l)" "$(listed_by_netbeui "netbeui-$size-1" | xargs)"
    echo "  nbtscan showed $(zero_macs_of_nbtscan "nbtscan-$size-1") of its computers with MAC 00:00:00:00:00:00"
    for round in $(seq 1 "$rounds"); do
        if cmp -s <(listed_by_netbeui "netbeui-$size-$round") <(real_macs_of_nbtscan "$size"); then
            echo "  NetBEUI round $round: nbtscan's computers, each with its real MAC"
        else
            echo "  NetBEUI round $round differs from nbtscan's computers with real MACs (<, NetBEUI >):"
            diff <(real_macs_of_nbtscan "$size") <(listed_by_netbeui "netbeui-$size-$round") | grep '^[<>]' || true
        fi
    done
    errors=$(cat "$work"/netbeui-"$size"-*.err | wc -l)
    [[ $errors -eq 0 ]] || echo "  NetBEUI runs wrote $errors error lines, first: $(head -1 "$work/netbeui-$size-1.err")"
done
addresses_20=4094
printf 'Qarvik / arp-scan: /24 %.2fx (target 1.0x); Qarvik / nbtscan: /24 %.2fx\n' \
    "$(ratio qarvik-24 arp-scan-24)" "$(ratio qarvik-24 nbtscan-24)"
printf 'Qarvik /cN / nbtscan: /24 %.2fx (target 1.0x)\n' "$(ratio netbeui-24 nbtscan-24)"
[[ ${#sizes[@]} -gt 1 ]] || exit 0
printf 'Qarvik / arp-scan: /20 %.2fx (target 0.7x); Qarvik / nmap -sn -n: /20 %.2fx (target 1.2x); Qarvik / nbtscan: /20 %.2fx\n' \
    "$(ratio qarvik-20 arp-scan-20)" "$(ratio qarvik-20 nmap-20)" "$(ratio qarvik-20 nbtscan-20)"
printf 'With the own limits: Qarvik / arp-scan: /20 %.2fx (target 1.0x); Qarvik / nmap -sn -n: /20 %.2fx (target 1.2x)\n' \
    "$(ratio qarvik-20own arp-scan-20own)" "$(ratio qarvik-20own nmap-20own)"
# CPU per swept address: the machine's own limits are the figure that counts
# (the raised ones tune the machine for the bench); both are shown.
cpu_per_address() { echo "$(median "$1" 2) * 1000 / $addresses_20" | bc -l; }
printf 'Qarvik CPU per swept address on the /20 with the own limits: %.2f ms (target 1.5 ms); with the limits raised: %.2f ms\n' \
    "$(cpu_per_address qarvik-20own)" "$(cpu_per_address qarvik-20)"
