#!/usr/bin/env bash
# The site play against its slowest segment: three segments of network
# namespaces (tests/ansible/site_lab.sh: 198.18.1.0/24 to 198.18.3.0/24, no
# link to the machine's own network), each a /24 with its own number of hosts
# and a probe that runs sshd. Times, in rounds from a cold neighbour table,
#   - each segment's qarvik /p255 /w500 run alone in its probe's namespace,
#   - the whole site through ansible/site.yml as a user runs it, without any
#     ansible.cfg (the play's own settings alone: pipelining),
#   - the same with the lab's ansible.cfg (pipelining, forks 10, the Python
#     interpreter named),
# the package installed by a first run that is not timed, the probes at the
# same time, as forks. Prints the medians, the play's own overhead (the site
# minus the slowest segment) and whether the site as a user runs it stays
# within the slowest segment + 5 s.
#
#   bench/site.sh BUILD_DIR    (root; BUILD_DIR holds qarvik, wincmd and the
#                               CPack configuration)
set -euo pipefail

if [[ $# -ne 1 || ! -x "$1/qarvik" || ! -x "$1/wincmd" || ! -f "$1/CPackConfig.cmake" ]]; then
    echo "usage: $0 BUILD_DIR  (BUILD_DIR holding qarvik, wincmd and CPackConfig.cmake)" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
playbook=$(cd "$(dirname "$0")/../ansible" && pwd)/site.yml
rounds=3
PATH=$PATH:/usr/sbin:/sbin  # where nmbd and sshd are installed
source "$(dirname "$0")/../tests/ansible/site_lab.sh"
if ! segment_possible || ! command -v nmbd >/dev/null || ! command -v ansible-playbook >/dev/null ||
    [[ ! -x /usr/sbin/sshd ]]; then
    echo "needs root, ip netns, nmbd, sshd and ansible-playbook (as .ci/run installs them)" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-site-bench-XXXXXX")
trap 'site_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
(cd "$build" && cpack -G DEB -B "$work/package" > "$work/cpack.log")
deb=$(echo "$work"/package/qarvik_*.deb)

# Segment K: an nmbd host, then UP hosts that answer (one in three named), two
# that drop ICMP echo and one that is down, spread over the /24.
hosts_of_segment=(0 12 24 40)
site_start "$work/site"
for k in 1 2 3; do
    site_add_segment "$k"
    segment_add_host $((k * 256 + 3)) up
    segment_add_nmbd $((k * 256 + 3)) "BENCH-NB$k"
    for ((i = 0; i < hosts_of_segment[k]; i++)); do
        n=$((10 + i * 6))
        segment_add_host $((k * 256 + n)) up
        ((i % 3 == 0)) && segment_name "198.18.$k.$n" "host-$k-$n"
    done
    segment_add_host $((k * 256 + 251)) no-echo
    segment_add_host $((k * 256 + 252)) no-echo
    segment_add_host $((k * 256 + 253)) down
    site_add_probe "$k"
done
{
    echo "[probes]"
    for k in 1 2 3; do
        echo "probe$k ansible_host=$(site_probe_address "$k") qarvik_net=198.18.$k.0 qarvik_mask=255.255.255.0"
    done
} > "$work/site.ini"

flush_neighbours() {
    local k
    for k in 1 2 3; do ip -n "${site_probe_namespaces[k]}" neigh flush all; done
}

# seconds COMMAND...: runs it, appends its wall time to $times.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.2f\n", $2 - $1 }' >> "$times"
}

segment_alone() {
    local dir=$work/alone-$1
    mkdir -p "$dir"
    (cd "$dir" && ip netns exec "${site_probe_namespaces[$1]}" env QARVIK_NETWORK=live \
        COMSPEC="$build/wincmd" "$build/qarvik" "/n198.18.$1.0" /m255.255.255.0 /p255 /w500 > console.txt)
}

# site_run site_play|site_play_as_user ARGS...: from $work, where no
# ansible.cfg is.
site_run() {
    local how=$1
    shift
    (cd "$work" && "$how" -i "$work/site.ini" "$playbook" -e "qarvik_results=$work/results" "$@") \
        > "$work/play.out" || { tail -20 "$work/play.out"; exit 1; }
}

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "load before: $(uptime)"
flush_neighbours
times=$work/install.times
seconds site_run site_play_as_user -e "qarvik_deb=$deb"
for ((round = 1; round <= rounds; round++)); do
    for k in 1 2 3; do
        flush_neighbours
        times=$work/alone-$k.times
        seconds segment_alone "$k"
    done
    flush_neighbours
    times=$work/site.times
    seconds site_run site_play_as_user -e "qarvik_deb=$deb"
    flush_neighbours
    times=$work/site-lab.times
    seconds site_run site_play -e "qarvik_deb=$deb"
done
echo "load after: $(uptime)"

slowest=0
for k in 1 2 3; do
    rows=$(grep -c . "$work/alone-$k/rsp.txt")
    printf 'segment %d alone (%2d hosts, %2d rows): %6.2f s (median of %d)\n' \
        "$k" $((hosts_of_segment[k] + 4)) "$rows" "$(median "$work/alone-$k.times")" "$rounds"
    slowest=$(median "$work/alone-$k.times" | awk -v s="$slowest" '{ print ($1 > s) ? $1 : s }')
done
site=$(median "$work/site.times")
site_lab=$(median "$work/site-lab.times")
printf 'site of 3 segments, no ansible.cfg:   %6.2f s (median of %d; the first run, installing: %.2f s)\n' \
    "$site" "$rounds" "$(cat "$work/install.times")"
printf 'site of 3 segments, the lab ansible.cfg: %6.2f s (median of %d)\n' "$site_lab" "$rounds"
printf 'play overhead (site - slowest):       %6.2f s without ansible.cfg, %.2f s with the lab'"'"'s\n' \
    "$(echo "$site $slowest" | awk '{ print $1 - $2 }')" "$(echo "$site_lab $slowest" | awk '{ print $1 - $2 }')"
for k in 1 2 3; do
    cmp -s "$work/alone-$k/rsp.txt" "$work/results/probe$k.csv" ||
        { echo "probe $k: the play's file differs from the segment's run alone (<, >):"
          diff <(tr -d '\r' < "$work/alone-$k/rsp.txt") <(tr -d '\r' < "$work/results/probe$k.csv") | head -6; }
done
if awk -v site="$site" -v slowest="$slowest" 'BEGIN { exit !(site <= slowest + 5) }'; then
    echo "within the slowest segment + 5 s without ansible.cfg"
else
    echo "OVER the slowest segment + 5 s without ansible.cfg"
    exit 1
fi
