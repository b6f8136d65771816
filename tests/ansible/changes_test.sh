#!/usr/bin/env bash
# What the site play says changed, on real SSH: two segments of network
# namespaces with their probes (tests/ansible/site_lab.sh), named `site` and
# `倉庫` in the inventory. A first run starts site.db; then on segment 2 one
# host is switched off, one added and one given another MAC, and changes.csv
# is checked row for row; the MAC going back is a flip flop that fails the
# run with qarvik_fail_on_changes; a run that finds nothing changed reports
# nothing; the host switched off comes back; two plays at once both commit.
# Needs root, `ip netns`, sshd and ansible-playbook; without them it exits 77
# (skipped), or fails where QARVIK_LIVE_SEGMENT_REQUIRED is 1.
#
#   tests/ansible/changes_test.sh CPACK BUILD_DIR
set -euo pipefail

cpack=$1
build=$(realpath "$2")
playbook=$(realpath "$(dirname "$0")/../../ansible/site.yml")
source "$(dirname "$0")/site_lab.sh"
site_require_tools

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-changes-XXXXXX")
trap 'site_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
site_make_package "$cpack" "$build" "$work"
deb=$(echo "$work"/package/qarvik_*.deb)

# Segment K: a named host .4, unnamed ones .5 and .9, the probe on .1.
# Segment 2 is made last, so segment.sh's host functions act on it.
site_start "$work/site"
for k in 1 2; do
    site_add_segment "$k"
    for n in 4 5 9; do segment_add_host $((k * 256 + n)) up; done
    segment_name "198.18.$k.4" "printer$k"
    site_add_probe "$k"
done
printf '[probes]\n' > "$work/site.ini"
names=(- site 倉庫)
for k in 1 2; do
    echo "${names[k]} ansible_host=$(site_probe_address "$k") qarvik_net=198.18.$k.0 qarvik_mask=255.255.255.240" \
        >> "$work/site.ini"
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mac() { tr : - <<<"$1"; }
results=$work/results
# db SQL: the rows of a query of site.db, fields joined by commas.
db() {
    python3 -c 'import sqlite3, sys
for row in sqlite3.connect(sys.argv[1]).execute(sys.argv[2]): print(",".join(map(str, row)))' "$results/site.db" "$1"
}

# play NAME ARGS...: one run of the play into the results folder; its output
# and exit status kept.
play() {
    local name=$1 k
    shift
    status=0
    for k in 1 2; do ip -n "${site_probe_namespaces[k]}" neigh flush all; done
    site_play -i "$work/site.ini" "$playbook" -e "qarvik_results=$results" "$@" > "$work/$name.out" 2>&1 ||
        status=$?
    echo "$name: exit status $status"
}

# check NAME STATUS SUMMARY RUNS: the play's exit status, its summary line,
# the runs in site.db, and changes.csv holds the rows of standard input
# after its header, each with the time of the newest run.
check() {
    local name=$1 summary
    [[ $status -eq $2 ]] || fail "$name: exit status $status: $(grep -i 'fatal\|error' "$work/$name.out" | tail -5)"
    summary="site: $(($(wc -l < "$results/site.csv") - 1)) hosts$3"
    grep -qF "\"$summary\"" "$work/$name.out" || fail "$name: no \"$summary\": $(grep 'site: ' "$work/$name.out")"
    local runs time
    runs=$(db "SELECT count(*) FROM runs")
    [[ $runs -eq $4 ]] || fail "$name: $runs runs in site.db, expected $4"
    time=$(db "SELECT max(time) FROM runs")
    { printf 'event,probe,name,address,mac,previous,time\r\n'; sed "s/\$/,$time\r/"; } > "$work/expected"
    cmp -s "$results/changes.csv" "$work/expected" ||
        { fail "$name: changes.csv differs (expected <, written >)"; diff "$work/expected" "$results/changes.csv" || true; }
}

# Run 1: the first, with nothing to compare with.
play first -e "qarvik_deb=$deb"
check first 0 ", first run, nothing to compare with" 1 < /dev/null

# Run 2: on segment 2, .9 switched off, .7 added, .5 with another MAC.
host5=$SEGMENT_PREFIX-h$((2 * 256 + 5))
other_mac=02:18:00:00:ee:05
ip -n "$SEGMENT_PREFIX-h$((2 * 256 + 9))" link set eth0 down
segment_add_host $((2 * 256 + 7)) up
ip -n "$host5" link set eth0 down
ip -n "$host5" link set eth0 address "$other_mac" up
play changed
check changed 0 ", 1 new, 1 gone, 1 changed mac" 2 <<EOR
changed mac,倉庫,198.18.2.5,198.18.2.5,$(mac $other_mac),$(mac "$(segment_mac $((2 * 256 + 5)))")
new,倉庫,198.18.2.7,198.18.2.7,$(mac "$(segment_mac $((2 * 256 + 7)))"),
gone,倉庫,198.18.2.9,198.18.2.9,$(mac "$(segment_mac $((2 * 256 + 9)))"),
EOR
# hosts_row ADDRESS: hosts.csv's row of an address of segment 2.
hosts_row() { grep "^倉庫,倉庫,$1,$1," "$results/hosts.csv" | tr -d '\r'; }
first=$(db "SELECT min(time) FROM runs")
[[ $(hosts_row 198.18.2.9) == *",locally administered,$first,$first,0" ]] ||
    fail "changed: hosts.csv: $(hosts_row 198.18.2.9)"

# Run 3: .5 takes its first MAC again; qarvik_fail_on_changes fails probe 2
# (not probe 1), after site.db and changes.csv are written.
ip -n "$host5" link set eth0 down
ip -n "$host5" link set eth0 address "$(segment_mac $((2 * 256 + 5)))" up
play flip -e qarvik_fail_on_changes=true
check flip 2 ", 1 flip flop" 3 <<EOR
flip flop,倉庫,198.18.2.5,198.18.2.5,$(mac "$(segment_mac $((2 * 256 + 5)))"),$(mac $other_mac)
EOR
grep -q 'fatal: \[倉庫 -> localhost\]: FAILED! .*its segment changed: site: ' "$work/flip.out" ||
    fail "flip: probe 2 does not fail saying its segment changed"
grep -Eq '^site .* failed=0 ' "$work/flip.out" || fail "flip: probe 1 failed, its segment did not change"

# Run 4: nothing changed: changes.csv without events, and
# qarvik_fail_on_changes has nothing to fail on.
play same -e qarvik_fail_on_changes=true
check same 0 ", no changes" 4 < /dev/null

# Run 5: .9 is switched on again: it is back, seen first in run 1.
ip -n "$SEGMENT_PREFIX-h$((2 * 256 + 9))" link set eth0 up
play back
check back 0 ", 1 back" 5 <<EOR
back,倉庫,198.18.2.9,198.18.2.9,$(mac "$(segment_mac $((2 * 256 + 9)))"),
EOR
[[ $(hosts_row 198.18.2.9) == *",$first,$(db "SELECT max(time) FROM runs"),1" ]] ||
    fail "back: hosts.csv: $(hosts_row 198.18.2.9)"

# Two plays at once on the same results folder, one for each probe, .7
# switched off: both commit, one after the other, and the one event stays.
ip -n "$SEGMENT_PREFIX-h$((2 * 256 + 7))" link set eth0 down
for k in 1 2; do ip -n "${site_probe_namespaces[k]}" neigh flush all; done
plays=()
for probe in site 倉庫; do
    (status=0
     site_play -i "$work/site.ini" "$playbook" -e "qarvik_results=$results" --limit "$probe" \
         > "$work/at-once-$probe.out" 2>&1 || status=$?
     echo "$status" > "$work/at-once-$probe.status") &
    plays+=($!)
done
wait "${plays[@]}"
for probe in site 倉庫; do
    [[ $(cat "$work/at-once-$probe.status") -eq 0 ]] || fail "at once: the play of $probe failed"
done
[[ $(db "SELECT count(*) FROM runs") -eq 7 ]] || fail "at once: $(db "SELECT count(*) FROM runs") runs, expected 7"
[[ $(db "SELECT event, name FROM events WHERE run > 5") == "gone,198.18.2.7" ]] ||
    fail "at once: events $(db "SELECT event, name FROM events WHERE run > 5")"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
