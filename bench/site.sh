#!/usr/bin/env bash
# The site play against its slowest segment, for sites of several sizes: a
# site of network namespaces (tests/ansible/site_lab.sh: segment K on
# 198.18.K.0, each with a probe that runs sshd on a management network, no
# link to the machine's own network) as large as the largest size asked for,
# every segment alike: the probe on .1, a named host .3, an unnamed one .5,
# one that drops ICMP echo .7 and one that is down .9, swept as a /28
# (/w500). Times, in rounds from cold neighbour tables,
#   - segments 1 to 3 each alone: qarvik in live mode in its probe's
#     namespace (the segments are alike; the slowest of them counts),
#   - for each size N: ansible/site.yml on probes 1 to N as a user runs it,
#     without any ansible.cfg (the play's own settings), forks = N,
# the package installed by a first play on every probe, not timed. Prints
# the medians, the play's overhead (the site minus the slowest segment) for
# each size, the cost of each more probe (the overhead's least-squares slope
# over the sizes) and whether 9 probes stay within the slowest segment + 6 s.
# Takes /tmp/qarvik-live.lock for the whole run and removes everything it
# made, also when it fails or is stopped.
#
#   bench/site.sh BUILD_DIR [PROBES...]   (root; BUILD_DIR holds qarvik,
#                                          wincmd and the CPack configuration;
#                                          PROBES: the sizes, 1 to 40, by
#                                          default 3 9 27)
set -euo pipefail

if [[ $# -lt 1 || ! -x "$1/qarvik" || ! -x "$1/wincmd" || ! -f "$1/CPackConfig.cmake" ]]; then
    echo "usage: $0 BUILD_DIR [PROBES...]  (BUILD_DIR holding qarvik, wincmd and CPackConfig.cmake)" >&2
    exit 2
fi
# One bench or test of namespaces at a time on the machine. flock holds the
# lock itself (-o): no daemon of the site inherits it, so none can keep it.
if [[ ${QARVIK_SITE_BENCH_LOCKED:-} != 1 ]]; then
    QARVIK_SITE_BENCH_LOCKED=1 exec flock -o /tmp/qarvik-live.lock "$0" "$@"
fi
build=$(cd "$1" && pwd)
shift
sizes=("$@")
[[ $# -gt 0 ]] || sizes=(3 9 27)
largest=0
for n in "${sizes[@]}"; do
    if [[ ! $n =~ ^[0-9]+$ ]] || ((n < 1 || n > 40)); then echo "PROBES: 1 to 40, not $n" >&2; exit 2; fi
    ((n > largest)) && largest=$n
done
alone=$((largest < 3 ? largest : 3))
playbook=$(cd "$(dirname "$0")/../ansible" && pwd)/site.yml
rounds=${QARVIK_BENCH_ROUNDS:-3}
PATH=$PATH:/usr/sbin:/sbin  # where sshd is installed
source "$(dirname "$0")/../tests/ansible/site_lab.sh"
if ! segment_possible || ! command -v ansible-playbook >/dev/null || [[ ! -x /usr/sbin/sshd ]]; then
    echo "needs root, ip netns, sshd and ansible-playbook (as .ci/run installs them)" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-site-bench-XXXXXX")
trap 'site_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
(cd "$build" && cpack -G DEB -B "$work/package" > "$work/cpack.log")
deb=$(echo "$work"/package/qarvik_*.deb)

echo "building a site of $largest segments"
site_start "$work/site"
for ((k = 1; k <= largest; k++)); do
    site_add_segment "$k"
    site_add_host "$k" 3 up
    segment_name "198.18.$k.3" "host-$k-3"
    site_add_host "$k" 5 up
    site_add_host "$k" 7 no-echo
    site_add_host "$k" 9 down
    site_add_probe "$k"
done

# inventory N: probes 1 to N in $work/site-N.ini.
inventory() {
    local k
    echo "[probes]"
    for ((k = 1; k <= $1; k++)); do
        echo "probe$k ansible_host=$(site_probe_address "$k") qarvik_net=198.18.$k.0 qarvik_mask=255.255.255.240"
    done
}

flush_neighbours() {
    local k
    for ((k = 1; k <= largest; k++)); do ip -n "${site_probe_namespaces[k]}" neigh flush all; done
}

# seconds FILE COMMAND...: runs the command from cold neighbour tables,
# appends its wall time to FILE.
seconds() {
    local file=$1 start end
    shift
    flush_neighbours
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.2f\n", $2 - $1 }' >> "$file"
}

segment_alone() {
    local dir=$work/alone-$1
    mkdir -p "$dir"
    # Under the probe's host name, as the play's run has it: the own rows.
    # shellcheck disable=SC2016
    (cd "$dir" && ip netns exec "${site_probe_namespaces[$1]}" unshare -u sh -c 'hostname "$1"; shift; exec "$@"' \
        sh "probe$1" env QARVIK_NETWORK=live COMSPEC="$build/wincmd" \
        "$build/qarvik" "/n198.18.$1.0" /m255.255.255.240 /p255 /w500 > console.txt)
}

# play N: the site of probes 1 to N as a user runs it, from $work, where
# no ansible.cfg is, with N forks; the CPU seconds of ansible-playbook and
# what it waited for (its workers, ssh) appended to cpu-N.
play() {
    local n=$1 TIMEFORMAT='%U %S'
    { time (cd "$work" && site_play_as_user -i "site-$n.ini" --forks "$n" "$playbook" \
        -e "qarvik_results=$work/results-$n" -e "qarvik_deb=$deb" > "$work/play-$n.out" 2>&1); } \
        2> "$work/cpu.last" || { tail -20 "$work/play-$n.out"; exit 1; }
    awk '{ printf "%.2f\n", $1 + $2 }' "$work/cpu.last" >> "$work/cpu-$n"
}

# QARVIK_BENCH_PROFILE=1: each task's time, from Ansible's profile_tasks
# callback, after the figures (the callback costs a little time itself).
[[ ${QARVIK_BENCH_PROFILE:-0} != 1 ]] || export ANSIBLE_CALLBACKS_ENABLED=ansible.posix.profile_tasks

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for n in "${sizes[@]}"; do inventory "$n" > "$work/site-$n.ini"; done
echo "load before: $(uptime)"
seconds "$work/install.times" play "$largest"
for ((round = 1; round <= rounds; round++)); do
    for ((k = 1; k <= alone; k++)); do seconds "$work/alone-$k.times" segment_alone "$k"; done
    for n in "${sizes[@]}"; do seconds "$work/site-$n.times" play "$n"; done
done
echo "load after: $(uptime)"

slowest=0
for ((k = 1; k <= alone; k++)); do
    printf 'segment %d alone: %6.2f s (median of %d)\n' "$k" "$(median "$work/alone-$k.times")" "$rounds"
    slowest=$(median "$work/alone-$k.times" | awk -v s="$slowest" '{ print ($1 > s) ? $1 : s }')
    # The play's file is the segment's own.
    for file in "$work/results-$largest/probes/probe$k.csv" "$work/results-$largest/probe$k.csv"; do
        [[ -f $file ]] || continue
        cmp -s "$work/alone-$k/rsp.txt" "$file" ||
            { echo "probe $k: the play's file differs from the segment's run alone (<, >):"
              diff <(tr -d '\r' < "$work/alone-$k/rsp.txt") <(tr -d '\r' < "$file") | head -6 || true; }
        break
    done
done
printf 'first play, installing on %d probes: %.2f s\n' "$largest" "$(cat "$work/install.times")"
for n in "${sizes[@]}"; do
    site=$(median "$work/site-$n.times")
    overhead=$(awk -v a="$site" -v b="$slowest" 'BEGIN { printf "%.2f", a - b }')
    echo "$n $overhead" >> "$work/overheads"
    printf '%2d probes, forks %2d: %6.2f s (median of %d), overhead over the slowest segment %6.2f s,' \
        "$n" "$n" "$site" "$rounds" "$overhead"
    printf ' the controller'"'"'s CPU %6.2f s\n' "$(median "$work/cpu-$n")"
done
if [[ ${QARVIK_BENCH_PROFILE:-0} == 1 ]]; then
    for n in "${sizes[@]}"; do
        echo "== the tasks of the last play of $n probes"
        sed -n '/^=====/,$p' "$work/play-$n.out" | tail -n +2 | head -20
    done
fi
# The cost of each more probe: the slope of the overhead over the sizes.
if ((${#sizes[@]} > 1)); then
    awk '{ n++; x += $1; y += $2; xx += $1 * $1; xy += $1 * $2 }
         END { d = n * xx - x * x; if (d > 0) printf "per probe: %.3f s more overhead\n", (n * xy - x * y) / d }' \
        "$work/overheads"
fi
if [[ -f $work/site-9.times ]]; then
    if awk -v site="$(median "$work/site-9.times")" -v slowest="$slowest" 'BEGIN { exit !(site <= slowest + 6) }'; then
        echo "9 probes: within the slowest segment + 6 s"
    else
        echo "9 probes: OVER the slowest segment + 6 s"
        exit 1
    fi
fi
