#!/usr/bin/env bash
# The whole chain on a real segment: qarvik runs its commands through wincmd
# in live mode inside a scanning namespace, on a segment of namespaces that
# this script builds and removes, and its response file must hold exactly the
# rows the segment's layout implies. Needs root and `ip netns`; without them
# it exits 77, which ctest reports as skipped (or fails when
# QARVIK_LIVE_SEGMENT_REQUIRED is 1); so it does without Samba's nmbd, which
# its NetBIOS hosts run.
#
#   tests/live/segment_test.sh QARVIK WINCMD
set -euo pipefail

qarvik=$(realpath "$1")
wincmd=$(realpath "$2")
source "$(dirname "$0")/segment.sh"
segment_require_nmbd

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-segment-XXXXXX")
disk=$work/disk
trap 'umount "$disk" 2>/dev/null || true; segment_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
segment_start "qv$$"

# The layout. The NetBIOS hosts come first: nmbd answers node-status requests
# at once but name queries only once it has registered its names, some
# seconds after it starts. .3 has another name in the hosts file, which wins;
# .5 is known only to NetBIOS; .6 drops ICMP echo.
segment_add_host 3 up;        segment_add_nmbd 3 ALPHA-NB
segment_add_host 5 up;        segment_add_nmbd 5 FOXTROT
segment_add_host 6 no-echo;   segment_add_nmbd 6 GOLF
# The scanner is .1 (named) and .2 on one interface.
segment_add_scanner 1 2
segment_name 198.18.0.3 alpha
segment_add_host 4 up;        segment_name 198.18.0.4 bravo
segment_add_host 9 down
segment_add_host 11 up;       segment_name 198.18.0.11 charlie
# A name in UTF-8 with a character code page 932 lacks: written in code page
# 932, "?" for the snowman.
segment_add_host 13 up;       segment_name 198.18.0.13 '日本☃'
segment_add_host 14 up
segment_add_host 33 up;       segment_name 198.18.0.33 delta
segment_add_host 200 no-echo; segment_name 198.18.0.200 echo
segment_add_host 254 up
segment_name 198.18.0.1 qscan
segment_name 198.18.0.12 ghost   # a name without a host
# Addresses without a name go on to a name server that never answers: the
# runs must stay silent about both, and no look-up may hold a probe longer
# than the ping time-out.
segment_silent_name_server 254

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# rows LINE...: the response file those lines make (CR LF line ends).
rows() { printf '%s\r\n' "$@"; }

# The rows of 198.18.0.0/28 (.1 to .14): the own addresses with the scanning
# interface's MAC, both named by the scanner's host name (which wins over the
# hosts file's name of .1, as on Windows), the named ones (.5 and .6 by
# NetBIOS), then the ARP cache's; .9 is down and unnamed, .12 is named but has
# no host.
own=$(segment_mac 1 | tr : -)
mac() { segment_mac "$1" | tr : -; }
japanese=$(printf '日本' | iconv -f UTF-8 -t CP932)'?'
rows_28=(
    "scanner,198.18.0.1,$own" "scanner,198.18.0.2,$own"
    "alpha,198.18.0.3,$(mac 3)" "bravo,198.18.0.4,$(mac 4)" "FOXTROT,198.18.0.5,$(mac 5)"
    "GOLF,198.18.0.6,$(mac 6)" "charlie,198.18.0.11,$(mac 11)" "ghost,198.18.0.12,"
    "$japanese,198.18.0.13,$(mac 13)"
    "198.18.0.14,198.18.0.14,$(mac 14)"
)
rows_24=(
    "scanner,198.18.0.1,$own" "scanner,198.18.0.2,$own"
    "alpha,198.18.0.3,$(mac 3)" "bravo,198.18.0.4,$(mac 4)" "FOXTROT,198.18.0.5,$(mac 5)"
    "GOLF,198.18.0.6,$(mac 6)" "charlie,198.18.0.11,$(mac 11)" "ghost,198.18.0.12,"
    "$japanese,198.18.0.13,$(mac 13)" "delta,198.18.0.33,$(mac 33)" "echo,198.18.0.200,$(mac 200)"
    "198.18.0.14,198.18.0.14,$(mac 14)" "198.18.0.254,198.18.0.254,$(mac 254)"
)

# nbtstat -a NAME in the scanning namespace, its report in $report.
nbtstat() {
    report=$(segment_scan env QARVIK_NETWORK=live QARVIK_WINVER=xp "$wincmd" /c "nbtstat -a $1" |
             tr -d '\r') || true
}

# live_run NAME WINVER ARGS...: one qarvik run in the scanning namespace, on
# a machine whose host name is "scanner" (a host-name namespace of the run's
# own), from a cold neighbour table (unless warm=1); its response file and
# error output are kept.
live_run() {
    local name=$1 winver=$2 dir=$work/$1
    shift 2
    mkdir -p "$dir/tmp"
    [[ ${warm:-0} == 1 ]] || segment_scan ip neigh flush all
    (cd "$dir" && segment_scan unshare -u sh -c 'hostname scanner && exec "$@"' sh env QARVIK_NETWORK=live QARVIK_WINVER="$winver" QARVIK_CODEPAGE=932 COMSPEC="$wincmd" \
        TMPDIR="$dir/tmp/" "$qarvik" "$@" > console.txt 2> errors.txt) ||
        fail "$name: exit status $?"
}

# check_run NAME ROW...: the response file holds exactly these rows, and no
# tool reported a failure.
check_run() {
    local name=$1 dir=$work/$1
    shift
    touch "$dir/rsp.txt"
    if ! cmp -s <(rows "$@") "$dir/rsp.txt"; then
        fail "$name: response file differs (expected <, written >)"
        diff <(rows "$@" | tr -d '\r') <(tr -d '\r' < "$dir/rsp.txt") || true
    fi
    [[ -s $dir/errors.txt ]] && fail "$name: error output: $(head -3 "$dir/errors.txt")"
    [[ -z $(ls -A "$dir/tmp") ]] || fail "$name: left work files"
    echo "$name: checked"
}

# One by one on a /28 through raw ICMP sockets (the group range excludes
# every group), then the /24 with probes in flight through ICMP datagram
# sockets.
segment_scan sysctl -qw net.ipv4.ping_group_range="1 0"
started=$SECONDS
live_run p1-28 xp /m255.255.255.240 /w300 /p1
check_run p1-28 "${rows_28[@]}"
# Nine of its addresses have no name, and a look-up that waited for the name
# server would take 10 s each; a probe takes at most the 300 ms echo time-out
# and its name's 300 ms, so 14 addresses one by one and the name pass stay far
# below that even on a loaded machine.
echo "p1-28: $((SECONDS - started)) s"
((SECONDS - started <= 40)) || fail "p1-28: took $((SECONDS - started)) s: a look-up held its probe"

segment_scan sysctl -qw net.ipv4.ping_group_range="0 2147483647"
live_run p32-24 xp /w300 /p32
check_run p32-24 "${rows_24[@]}"

# Windows 10's Japanese reports (code page 932) give the same rows.
live_run win10-24 10 /w300 /p32
check_run win10-24 "${rows_24[@]}"

# Only what answered is listed. Host .7 answered once and is gone since,
# its entry left STALE in the table; .6 drops echo requests but answers ARP,
# its entry STALE as well. As root, each probe drops the cached entry and the
# kernel asks afresh: .7 is not listed, .6 is.
segment_add_host 7 up
answered=0
for attempt in 1 2 3 4 5; do  # its link takes a moment to come up
    segment_scan ping -c 1 -W 1 198.18.0.7 > /dev/null && { answered=1; break; }
done
((answered)) || fail "host .7 did not answer before it left"
ip netns del "$SEGMENT_PREFIX-h7"
for n in 6 7; do
    segment_scan ip neigh replace "198.18.0.$n" lladdr "$(segment_mac $n)" nud stale dev q1
done
warm=1 live_run stale-28 xp /m255.255.255.240 /w300 /p32
check_run stale-28 "${rows_28[@]}"

# A full disk: the product's line on a line of its own after the progress
# marks, and the reason once on standard error, with no line from each
# command that met the full disk (redirections, the neighbour room's ledger).
mkdir -p "$disk" "$work/full"
if mount -t tmpfs -o size=64k tmpfs "$disk"; then
    head -c 50000 /dev/zero > "$disk/filler" 2> /dev/null || true
    status=0
    (cd "$work/full" && segment_scan env QARVIK_NETWORK=live QARVIK_WINVER=xp COMSPEC="$wincmd" \
        TMPDIR="$disk/" "$qarvik" /w300 /p32 > console.txt 2> errors.txt) || status=$?
    if [[ $status -ne 3 || $(wc -l < "$work/full/errors.txt") -ne 1 ]] ||
        ! grep -q '^qarvik: .*: No space left on device$' "$work/full/errors.txt" ||
        ! grep -q '^A work file could not be written whole' "$work/full/console.txt"; then
        fail "full disk: status $status, $(wc -l < "$work/full/errors.txt") error lines: $(head -3 "$work/full/errors.txt")"
    fi
    # The run's resident interpreter ends a second after its last command.
    for attempt in $(seq 50); do umount "$disk" 2> /dev/null && break; sleep 0.1; done
    mountpoint -q "$disk" && fail "full disk: still mounted"
    echo "full disk: checked"
fi

# A /23 from the /24 interface: its broadcast address, which the kernel
# refuses to send to, is one line on standard error that names it and why;
# the addresses beyond the interface have no route, which the reports say.
live_run wide-23 xp /n198.18.0.0 /m255.255.254.0 /w300 /p255
refused="wincmd: ping: 198.18.0.255: cannot send an echo request: Permission denied (a broadcast address)"
[[ $(cat "$work/wide-23/errors.txt") == "$refused" ]] ||
    fail "wide-23: error output: $(head -3 "$work/wide-23/errors.txt")"
echo "wide-23: checked"

# NetBEUI mode: net view lists the nmbd hosts (and none of the hosts without
# it), sorted by name, and nbtstat -a gives each its real MAC where nmbd sends
# zeros; one by one as many at once, in XP's English as in Windows 10's
# Japanese reports. The console and the work files are those of a simulated
# network with the same browse list.
netbeui_rows=("ALPHA-NB,$(mac 3)" "FOXTROT,$(mac 5)" "GOLF,$(mac 6)")
simulated=$work/simulated.txt
{
    echo "machine QSCAN"
    echo "adapter 198.18.0.1 $own"
    for row in "${netbeui_rows[@]}"; do echo "browse ${row%,*} ${row#*,}"; done
} > "$simulated"
for winver in xp 10; do
    for probes in 255 1; do
        live_run "netbeui-$winver-p$probes" "$winver" /cN /p$probes /w500
        check_run "netbeui-$winver-p$probes" "${netbeui_rows[@]}"
        dir=$work/simulated-$winver-p$probes
        mkdir -p "$dir/tmp"
        (cd "$dir" && QARVIK_NETWORK=$simulated QARVIK_WINVER=$winver QARVIK_CODEPAGE=932 \
            COMSPEC="$wincmd" TMPDIR="$dir/tmp/" "$qarvik" /cN /p$probes /w500 > console.txt 2>&1) || true
        cmp -s "$dir/console.txt" "$work/netbeui-$winver-p$probes/console.txt" ||
            fail "netbeui-$winver-p$probes: console differs from the simulated network's"
    done
done

# nbtstat -a finds a NetBIOS host by a name query broadcast, once its nmbd
# has registered its names (some seconds after it started, which the runs
# above have taken); a name nobody has is not found.
for attempt in 1 2 3 4; do
    nbtstat golf
    [[ $report == *'MAC Address'* ]] && break
done
grep -qx '    GOLF           <00>  UNIQUE      Registered' <<< "$report" &&
    grep -qx "    MAC Address = $(mac 6)" <<< "$report" ||
    fail "nbtstat -a golf: $report"
nbtstat NOBODY
[[ $report == *$'\n    Host not found.'* && $report != *MAC* ]] || fail "nbtstat -a NOBODY: $report"

# Failures are reported, not answered: no ICMP socket (no CAP_NET_RAW, no
# group in the range), and a machine without an adapter.
segment_scan sysctl -qw net.ipv4.ping_group_range="1 0"
if command -v setpriv >/dev/null; then
    status=0
    segment_scan env QARVIK_NETWORK=live setpriv --inh-caps=-net_raw --bounding-set=-net_raw \
        "$wincmd" /c "ping -n 1 198.18.0.3" > "$work/no-socket.out" 2> "$work/no-socket.err" || status=$?
    if ! [[ $status -eq 1 && $(wc -l < "$work/no-socket.err") -eq 1 && ! -s $work/no-socket.out ]] ||
        ! grep -q 'ICMP socket' "$work/no-socket.err"; then
        fail "ping without an ICMP socket: status $status, $(cat "$work/no-socket.err")"
    fi
    # A whole run as a user outside the range (binaries copied where it may
    # run them): one line from the adapter tool, nothing swept, the response
    # file as it was, and exit status 3: no inventory taken.
    dir=$work/no-icmp
    mkdir -p "$dir/tmp" && segment_copy_programs "$qarvik" "$wincmd" "$dir" && printf 'old row\r\n' > "$dir/rsp.txt"
    chown -R nobody "$dir" && chmod 711 "$work"
    status=0
    (cd "$dir" && segment_scan env QARVIK_NETWORK=live QARVIK_WINVER=xp COMSPEC="$dir/wincmd" TMPDIR="$dir/tmp/" \
        setpriv --reuid=nobody --regid=nogroup --clear-groups ./qarvik > console.txt 2> errors.txt) || status=$?
    if [[ $status -ne 3 || $(wc -l < "$dir/errors.txt") -ne 1 || $(cat "$dir/rsp.txt") != $'old row\r' ]] ||
        ! grep -q '^wincmd: ipconfig: cannot open an ICMP socket .*ping_group_range.*CAP_NET_RAW.*root$' "$dir/errors.txt" ||
        ! grep -qF 'The adapter tool failed (exit status 1)' "$dir/console.txt" ||
        grep -q 'Get Own Host' "$dir/console.txt"; then
        fail "run without an ICMP socket: status $status, $(head -3 "$dir/errors.txt")"
    fi
fi
status=0
unshare -n env QARVIK_NETWORK=live "$wincmd" /c "ipconfig /all" > "$work/no-adapter.out" \
    2> "$work/no-adapter.err" || status=$?
if ! [[ $status -eq 1 && ! -s $work/no-adapter.out ]] ||
    ! grep -q 'no network interface' "$work/no-adapter.err"; then
    fail "ipconfig without an adapter: status $status, $(cat "$work/no-adapter.err")"
fi
# A whole run on a machine that cannot list an interface takes no inventory.
status=0
(cd "$work" && printf 'old row\r\n' > rsp.txt &&
    unshare -n env QARVIK_NETWORK=live QARVIK_WINVER=xp COMSPEC="$wincmd" "$qarvik" \
        > no-adapter-run.out 2> no-adapter-run.err) || status=$?
if [[ $status -ne 3 || $(cat "$work/rsp.txt") != $'old row\r' ]] ||
    ! grep -qF 'The adapter tool failed (exit status 1)' "$work/no-adapter-run.out"; then
    fail "run without an adapter: status $status, $(cat "$work/no-adapter-run.err")"
fi

if [[ $failures -gt 0 ]]; then
    echo "live segment: $failures check(s) failed"
    exit 1
fi
echo "live segment: every check passed"
