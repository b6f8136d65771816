#!/usr/bin/env bash
# The live NetBIOS look-ups against Samba's nmbd on a segment of network
# namespaces that this script builds and removes: the node status of an nmbd
# host, a name query by broadcast, and no answer in time where nobody has the
# name or no host is, and at once from a host where no name server runs. Needs root, `ip netns` and nmbd; without them
# it exits 77, which ctest reports as skipped (or fails when
# QARVIK_LIVE_SEGMENT_REQUIRED is 1).
#
#   tests/live/netbios_test.sh NETBIOS_PROBE
set -euo pipefail

probe=$(realpath "$1")
[[ -x $probe ]] || { echo "FAIL: no probe program at $1"; exit 1; }
source "$(dirname "$0")/segment.sh"
segment_require_nmbd

trap 'segment_remove' EXIT
trap 'exit 130' INT TERM
segment_start "qn$$"

# The scanner is .1; ALPHA runs nmbd, BRAVO too but drops ICMP echo, .4 has
# no name server.
segment_add_scanner 1
segment_add_host 3 up;      segment_add_nmbd 3 ALPHA
segment_add_host 4 up
segment_add_host 5 no-echo; segment_add_nmbd 5 BRAVO

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# look_up WHAT ARGUMENT MS: the probe's answer in $answer, its time in $took_ms.
look_up() {
    local start
    start=$(date +%s%N)
    answer=$(segment_scan "$probe" "$@" 2>&1) || true
    took_ms=$(( ($(date +%s%N) - start) / 1000000 ))
}

# check WHAT ARGUMENT MS EXPECTED MIN_MS MAX_MS
check() {
    local expected=$4 min_ms=$5 max_ms=$6
    look_up "$1" "$2" "$3"
    [[ $answer == "$expected" ]] || fail "$1 $2: '$answer', expected '$expected'"
    (( took_ms >= min_ms && took_ms <= max_ms )) ||
        fail "$1 $2: took $took_ms ms, expected $min_ms to $max_ms"
    echo "$1 $2: $took_ms ms"
}

# Each nmbd answers name queries once it has registered its names by
# broadcast, some seconds after it starts; on a loaded machine one may take
# longer than the other.
for host in ALPHA,198.18.0.3 BRAVO,198.18.0.5; do
    for attempt in $(seq 10); do
        look_up query "${host%,*}" 1500
        [[ $answer == "${host#*,}" ]] && break
    done
    [[ $answer == "${host#*,}" ]] || fail "${host%,*} never registered: '$answer'"
done

# The upper bounds leave room for a loaded machine and the sanitizer build:
# an answer well before its deadline, no answer by the deadline and not long
# after it.
check status 198.18.0.3 3000 ALPHA 0 1500
check status 198.18.0.5 3000 BRAVO 0 1500
check table 198.18.0.3 3000 "$(printf '%s\n' 'ALPHA<00> UNIQUE Registered' 'ALPHA<03> UNIQUE Registered' \
    'ALPHA<20> UNIQUE Registered' 'QARVIK<00> GROUP Registered' 'QARVIK<1E> GROUP Registered' \
    'MAC 00-00-00-00-00-00')" 0 1500
check query alpha 3000 198.18.0.3 0 1500
check query NOBODY 1500 none 1450 2800
check status 198.18.0.4 3000 none 0 1500   # port unreachable: no answer at once
check status 198.18.0.9 700 none 650 2000   # no host at all

# Every nmbd ends with the segment.
segment_remove
if pgrep -f "qn$$-nmbd" >/dev/null; then fail "nmbd left running"; fi

if [[ $failures -gt 0 ]]; then
    echo "live NetBIOS: $failures check(s) failed"
    exit 1
fi
echo "live NetBIOS: every check passed"
