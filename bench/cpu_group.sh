# shellcheck shell=bash
# CPU time of everything a measured command starts, counted by a control group
# of its own: the run's resident interpreter and the processes it forks for
# commands are no children of the command, so user + sys of its process tree
# (/usr/bin/time) leaves them out. Uses the cgroup v2 hierarchy (at
# /sys/fs/cgroup, or /sys/fs/cgroup/unified beside v1 controllers), else v1's
# cpuacct. As root.
#
#   cpu_group_make                 makes the group; sets cpu_group, and
#                                  cpu_group_enter to a command prefix that
#                                  runs the rest of the command line in it
#   cpu_group_seconds              waits until no process is left in it (at
#                                  most 10 s) and prints its CPU seconds since
#                                  it was made
#   cpu_group_remove               removes it (also when never made)

cpu_group_root() {
    local root
    for root in /sys/fs/cgroup /sys/fs/cgroup/unified; do
        [[ -e $root/cgroup.procs && -e $root/cgroup.max.depth ]] && { echo "$root"; return; }
    done
    [[ -e /sys/fs/cgroup/cpuacct/cpuacct.usage ]] && { echo /sys/fs/cgroup/cpuacct; return; }
    return 1
}

cpu_group_make() {
    local root
    root=$(cpu_group_root) || { echo "no cgroup hierarchy to count CPU with" >&2; return 1; }
    cpu_group=$root/qarvik-bench-$$-$RANDOM
    mkdir "$cpu_group"
    # shellcheck disable=SC2016,SC2034  # for the caller, expanded by sh
    cpu_group_enter=(sh -c 'echo $$ > "$0/cgroup.procs" && exec "$@"' "$cpu_group")
}

cpu_group_seconds() {
    local k
    for ((k = 0; k < 100; k++)); do
        [[ -z $(cat "$cpu_group/cgroup.procs") ]] && break
        sleep 0.1
    done
    if [[ -e $cpu_group/cpu.stat ]]; then
        awk '$1 == "usage_usec" { printf "%.3f\n", $2 / 1e6 }' "$cpu_group/cpu.stat"
    else
        awk '{ printf "%.3f\n", $1 / 1e9 }' "$cpu_group/cpuacct.usage"
    fi
}

cpu_group_remove() {
    [[ -n ${cpu_group:-} && -d $cpu_group ]] && rmdir "$cpu_group" 2>/dev/null
    cpu_group=
    return 0
}
