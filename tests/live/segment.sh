# shellcheck shell=bash
# A segment of network namespaces on 198.18.0.0/24 (or as wide as
# SEGMENT_BITS says, up to /20), with no link to the
# machine's own network: a bridge namespace, a scanning namespace and one
# namespace per host, joined by veth pairs made inside the namespaces (never
# in the machine's own). Sourced by the live segment test and bench/live.sh.
#
#   segment_start PREFIX        names every namespace PREFIX-... (PREFIX ends in $$)
#   segment_remove              removes every namespace and file made; callers
#                               trap it on EXIT before segment_start
#   segment_add_scanner ADDRESS...   the scanning machine (.1 and more addresses)
#   segment_add_host N KIND     host 198.18.0.N: up | no-echo | down (N from
#                               256 on: 198.18.N/256.N%256, segment_address N)
#   segment_name ADDRESS NAME   a name in the scanning namespace's hosts file
#   segment_silent_name_server N     names not in the hosts file go to a name
#                               server that never answers, behind host N
#   segment_scan COMMAND...     runs a command in the scanning namespace
#   segment_add_nmbd N NAME     Samba's nmbd on host N, NetBIOS name NAME
#
# KIND up answers ping and ARP; no-echo drops ICMP echo but answers ARP;
# down has its interface down. Every host N has the MAC 02:18:00:00:HH:LL, N in
# hex.

SEGMENT_NET=198.18.0
SEGMENT_BITS=${SEGMENT_BITS:-24}
segment_namespaces=()
segment_nmbd_dirs=()

# The hardware address of host N (and of the scanner, N = 1).
segment_mac() { printf '02:18:00:00:%02x:%02x' $(($1 >> 8)) $(($1 & 255)); }

segment_address() { printf '198.18.%d.%d' $(($1 >> 8)) $(($1 & 255)); }

segment_remove() {
    local ns
    segment_stop_nmbd
    for ns in "${segment_namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
    segment_namespaces=()
    [[ -n ${SEGMENT_SCAN:-} ]] && rm -rf "/etc/netns/$SEGMENT_SCAN"
    return 0
}

# Removes what runs of this kind left when killed outright (no trap runs on
# SIGKILL): namespaces named STEM<pid>-... whose process is gone, and the
# nmbd daemons of their directories.
segment_remove_stale() {
    local ns pid
    for ns in $({ ip netns list | awk '{ print $1 }'; ls /etc/netns 2>/dev/null; } |
                grep -E "^$1[0-9]+-" || true); do
        pid=${ns#"$1"}
        pid=${pid%%-*}
        kill -0 "$pid" 2>/dev/null && continue
        ip netns del "$ns" 2>/dev/null || true
        rm -rf "/etc/netns/$ns"
    done
    local dir
    for dir in "${TMPDIR:-/tmp}/$1"[0-9]*-nmbd*; do
        [[ -d $dir ]] || continue
        pid=${dir##*/"$1"}
        pid=${pid%%-*}
        kill -0 "$pid" 2>/dev/null && continue
        segment_nmbd_dirs=("$dir")
        segment_stop_nmbd
    done
}

segment_namespace() {
    ip netns add "$1"
    segment_namespaces+=("$1")
    ip -n "$1" link set lo up
}

# segment_start PREFIX: the bridge and the scanning namespace's resolver files.
segment_start() {
    SEGMENT_BRIDGE=$1-br
    SEGMENT_SCAN=$1-scan
    SEGMENT_PREFIX=$1
    segment_remove_stale "${1%%[0-9]*}"
    segment_namespace "$SEGMENT_BRIDGE"
    ip -n "$SEGMENT_BRIDGE" link add br0 type bridge
    ip -n "$SEGMENT_BRIDGE" link set br0 up
    # ip netns exec puts these over /etc: names from the hosts file alone, and
    # a DNS server on loopback, so no look-up leaves the namespace.
    mkdir -p "/etc/netns/$SEGMENT_SCAN"
    printf '127.0.0.1 localhost\n' > "/etc/netns/$SEGMENT_SCAN/hosts"
    printf 'hosts: files\n' > "/etc/netns/$SEGMENT_SCAN/nsswitch.conf"
    printf 'nameserver 127.0.0.1\n' > "/etc/netns/$SEGMENT_SCAN/resolv.conf"
}

# segment_link NAMESPACE INTERFACE N: a veth pair from the bridge to the
# namespace, named INTERFACE there, with host N's MAC.
segment_link() {
    local ns=$1 interface=$2 port=p$3
    ip -n "$SEGMENT_BRIDGE" link add "$port" type veth peer name "$interface" netns "$ns"
    ip -n "$SEGMENT_BRIDGE" link set "$port" master br0 up
    ip -n "$ns" link set "$interface" address "$(segment_mac "$3")"
}

# segment_add_scanner HOST_NUMBER...: the scanning machine. Its first
# interface, q0, has no carrier (its far end is down); q1 is on the segment
# with one address per HOST_NUMBER.
segment_add_scanner() {
    local n
    segment_namespace "$SEGMENT_SCAN"
    ip -n "$SEGMENT_BRIDGE" link add idle0 type veth peer name q0 netns "$SEGMENT_SCAN"
    ip -n "$SEGMENT_SCAN" link set q0 address 02:18:00:00:ff:00 up
    segment_link "$SEGMENT_SCAN" q1 "$1"
    for n in "$@"; do ip -n "$SEGMENT_SCAN" addr add "$SEGMENT_NET.$n/$SEGMENT_BITS" dev q1; done
    ip -n "$SEGMENT_SCAN" link set q1 up
}

segment_add_host() {
    local n=$1 kind=$2 ns=$SEGMENT_PREFIX-h$1
    segment_namespace "$ns"
    segment_link "$ns" eth0 "$n"
    ip -n "$ns" addr add "$(segment_address "$n")/$SEGMENT_BITS" dev eth0
    [[ $kind == down ]] || ip -n "$ns" link set eth0 up
    if [[ $kind == no-echo ]]; then
        ip netns exec "$ns" sysctl -qw net.ipv4.icmp_echo_ignore_all=1
    fi
}

# segment_add_nmbd N NAME: Samba's NetBIOS name server on host N as NAME, in
# workgroup QARVIK, on eth0 alone, with every file it keeps in a directory of
# its own; no smbd. Ended by its pid in segment_remove.
segment_add_nmbd() {
    local n=$1 name=$2 ns=$SEGMENT_PREFIX-h$1
    local dir
    dir=$(mktemp -d "${TMPDIR:-/tmp}/$SEGMENT_PREFIX-nmbd$n-XXXXXX")
    segment_nmbd_dirs+=("$dir")
    mkdir -p "$dir/log" "$dir/lock" "$dir/pid" "$dir/state" "$dir/cache" "$dir/private"
    cat > "$dir/smb.conf" <<EOF
[global]
    netbios name = $name
    workgroup = QARVIK
    interfaces = eth0
    bind interfaces only = yes
    server role = standalone server
    local master = no
    preferred master = no
    domain master = no
    dns proxy = no
    wins support = no
    load printers = no
    log file = $dir/log/nmbd.log
    lock directory = $dir/lock
    pid directory = $dir/pid
    state directory = $dir/state
    cache directory = $dir/cache
    private dir = $dir/private
    ncalrpc dir = $dir/lock/ncalrpc
EOF
    ip netns exec "$ns" nmbd --daemon --configfile="$dir/smb.conf"
    # The daemon writes its pid file after it leaves the starting process.
    local tries
    for tries in $(seq 50); do
        [[ -s $dir/pid/nmbd.pid ]] && return 0
        sleep 0.1
    done
    echo "nmbd on host $n wrote no pid file" >&2
    return 1
}

# Ends every nmbd started, by its pid file, and removes its directory. Each
# releases its names for a second or two before it ends, so all are told at
# once and then waited for.
segment_stop_nmbd() {
    local dir pid tries pids=()
    for dir in "${segment_nmbd_dirs[@]}"; do
        pid=$(cat "$dir/pid/nmbd.pid" 2>/dev/null || true)
        # Only an nmbd: a stale pid file may name a process that came after it.
        if [[ $pid =~ ^[0-9]+$ && $(cat "/proc/$pid/comm" 2>/dev/null) == nmbd ]]; then
            kill "$pid" 2>/dev/null || true
            pids+=("$pid")
        fi
    done
    for pid in "${pids[@]}"; do
        for tries in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    for dir in "${segment_nmbd_dirs[@]}"; do rm -rf "$dir"; done
    segment_nmbd_dirs=()
}

segment_name() { printf '%s %s\n' "$1" "$2" >> "/etc/netns/$SEGMENT_SCAN/hosts"; }

segment_scan() { ip netns exec "$SEGMENT_SCAN" "$@"; }

# segment_copy_programs QARVIK WINCMD DIR: the programs into DIR, for a user
# who cannot reach the build folder; with them the interpreter program that
# the wincmd launcher runs, when the build has one beside it.
segment_copy_programs() {
    cp "$1" "$2" "$3"
    [[ ! -e ${2%/*}/wincmd-tools ]] || cp "${2%/*}/wincmd-tools" "$3"
}

# The scanning namespace asks a name server at 203.0.113.53 (a documentation
# address) for names its hosts file lacks. Host N forwards the queries into a
# blackhole route, which drops them without a word: no reply, no ICMP error,
# so every look-up waits out the resolver's whole time-out (5 s, 2 attempts).
SEGMENT_SILENT_NAME_SERVER=203.0.113.53
segment_silent_name_server() {
    local ns=$SEGMENT_PREFIX-h$1
    ip netns exec "$ns" sysctl -qw net.ipv4.ip_forward=1
    ip -n "$ns" route add blackhole "$SEGMENT_SILENT_NAME_SERVER"
    ip -n "$SEGMENT_SCAN" route add "$SEGMENT_SILENT_NAME_SERVER/32" via "$SEGMENT_NET.$1"
    printf 'nameserver %s\n' "$SEGMENT_SILENT_NAME_SERVER" > "/etc/netns/$SEGMENT_SCAN/resolv.conf"
    printf 'hosts: files dns\n' > "/etc/netns/$SEGMENT_SCAN/nsswitch.conf"
}

# Whether namespaces can be made here: root and a working `ip netns`.
segment_possible() {
    [[ $(id -u) -eq 0 ]] && command -v ip >/dev/null || return 1
    local probe=qarvik-probe-$$
    ip netns add "$probe" 2>/dev/null || return 1
    ip netns del "$probe"
}

# Ends a test that cannot run here (no root, no `ip netns`, no nmbd): skipped
# (77), or failed where CI sets QARVIK_LIVE_SEGMENT_REQUIRED=1, since there a
# skip would hide a failure.
segment_require_nmbd() {
    PATH=$PATH:/usr/sbin:/sbin  # where nmbd is installed
    segment_possible && command -v nmbd >/dev/null && return 0
    [[ ${QARVIK_LIVE_SEGMENT_REQUIRED:-0} == 1 ]] && { echo "FAIL: needs namespaces and nmbd"; exit 1; }
    echo "skipped: needs root, ip netns and nmbd (Debian package samba)"
    exit 77
}
