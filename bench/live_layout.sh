# shellcheck shell=bash
# The hosts of the live benches' segment, on 198.18.0.0/20 (tests/live/segment.sh
# sourced before, SEGMENT_BITS=20, segment_start called): the scanning
# namespace (198.18.0.1) and 120 hosts, 32 of them in the first /24 (.3, .10,
# ... .220) and 88 spread over the rest (198.18.1.5 to 198.18.15.162, every
# 43rd address); one in eight drops ICMP echo but answers ARP, one in ten has
# its interface down, one in three is named in the scanning namespace's hosts
# file, plus three names whose address has no host. Four hosts of the /24 run
# nmbd as NB-N (.3, .10, .31, .52) with a /24 address.
#
#   live_layout_build       makes them; sets live_layout_hosts to their count
#   set_limits T1 T2 T3     sets the kernel's neighbour-table limits
#                           (gc_thresh1/2/3); own_limits holds the machine's own

limit_names=(net.ipv4.neigh.default.gc_thresh1 net.ipv4.neigh.default.gc_thresh2
             net.ipv4.neigh.default.gc_thresh3)
read -r -a own_limits <<< "$(sysctl -n "${limit_names[@]}" | xargs)"
set_limits() {
    local values=("$@") i
    for i in 0 1 2; do sysctl -qw "${limit_names[i]}=${values[i]}"; done
}

# add_hosts FIRST STEP COUNT: hosts FIRST, FIRST + STEP, ...; one in eight
# drops ICMP echo, one in ten is down, one in three is named.
add_hosts() {
    local k n kind
    for ((k = 0; k < $3; k++)); do
        n=$(($1 + $2 * k))
        kind=up
        ((k % 8 == 7)) && kind=no-echo
        ((k % 10 == 9)) && kind=down
        segment_add_host "$n" "$kind"
        ((k % 3 == 0)) && segment_name "$(segment_address "$n")" "host-$n"
    done
    return 0
}

live_layout_build() {
    local n
    segment_add_scanner 1
    add_hosts 3 7 32        # .3 to .220 of the first /24
    # NetBIOS hosts: .3 named in the hosts file too, .10 and .31 unnamed, .52
    # unnamed and dropping ICMP echo. They answer node-status requests at once.
    # They sit in the first /24 alone (a /24 address), where NetBEUI mode's name
    # queries, broadcast on the scanner's /24 in its /24 runs, reach them.
    for n in 3 10 31 52; do
        ip -n "$SEGMENT_PREFIX-h$n" addr del "$(segment_address "$n")/$SEGMENT_BITS" dev eth0
        ip -n "$SEGMENT_PREFIX-h$n" addr add "$(segment_address "$n")/24" dev eth0
        segment_add_nmbd "$n" "NB-$n"
    done
    add_hosts 261 43 88     # 198.18.1.5 to 198.18.15.162
    segment_name "$SEGMENT_NET.250" gone-1
    segment_name "$SEGMENT_NET.251" gone-2
    segment_name "198.18.9.9" gone-3
    segment_name "$SEGMENT_NET.1" scanner
    # For the caller; segment_namespaces is segment.sh's (the bridge and the
    # scanner are two of them).
    # shellcheck disable=SC2034,SC2154
    live_layout_hosts=$(( ${#segment_namespaces[@]} - 2 ))
}
