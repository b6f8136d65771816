#!/usr/bin/env bash
# The site play on real SSH: three segments of network namespaces, each with a
# probe that runs sshd on a management network, and a controller namespace
# that runs ansible/site.yml with the package this build makes. Checks every
# probe's file and site.csv row for row, a run with one probe stopped and one
# segment in NetBEUI mode, and a run whose qarvik fails. Needs root, `ip
# netns`, nmbd, sshd and ansible-playbook; without them it exits 77 (skipped),
# or fails where QARVIK_LIVE_SEGMENT_REQUIRED is 1.
#
#   tests/ansible/site_test.sh CPACK BUILD_DIR
set -euo pipefail

cpack=$1
build=$(realpath "$2")
playbook=$(realpath "$(dirname "$0")/../../ansible/site.yml")
source "$(dirname "$0")/site_lab.sh"
segment_require_nmbd
if ! command -v ansible-playbook >/dev/null || [[ ! -x /usr/sbin/sshd ]]; then
    [[ ${QARVIK_LIVE_SEGMENT_REQUIRED:-0} == 1 ]] && { echo "FAIL: needs ansible-playbook and sshd"; exit 1; }
    echo "skipped: needs ansible-playbook and sshd (Debian packages ansible-core, openssh-server)"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-site-XXXXXX")
trap 'site_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
package_before=$(dpkg-query -W -f '${Status} ${Version}' qarvik 2>/dev/null || true)

(cd "$build" && "$cpack" -G DEB -B "$work/package" > "$work/cpack.log") ||
    { echo "FAIL: cpack: $(tail -5 "$work/cpack.log")"; exit 1; }
deb=$(echo "$work"/package/qarvik_*.deb)

# Segment K: an nmbd host .3 (first: it registers its names some seconds
# after it starts), a host named in the probe's hosts file .4, one that drops
# ICMP echo .5, an unnamed one .9, and the probe on .1.
site_start "$work/site"
for k in 1 2 3; do
    site_add_segment "$k"
    segment_add_host $((k * 256 + 3)) up;      segment_add_nmbd $((k * 256 + 3)) "SITE-NB$k"
    segment_add_host $((k * 256 + 4)) up;      segment_name "198.18.$k.4" "printer$k"
    segment_add_host $((k * 256 + 5)) no-echo
    segment_add_host $((k * 256 + 9)) up
    site_add_probe "$k"
    segment_name "198.18.$k.1" "probe$k"
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rows() { printf '%s\r\n' "$@"; }
mac() { segment_mac "$1" | tr : -; }

# segment_rows K: the rows of probe K's /28 sweep: its own addresses (the
# segment's, then the management network's), both named by the probe's host
# name, the named hosts, then those found only in the ARP cache.
segment_rows() {
    local k=$1 base=$(($1 * 256))
    rows "probe$k,198.18.$k.1,$(mac $((base + 1)))" \
         "probe$k,$(site_probe_address "$k"),$(printf '02-19-00-00-00-%02x' $((10 + k)))" \
         "SITE-NB$k,198.18.$k.3,$(mac $((base + 3)))" "printer$k,198.18.$k.4,$(mac $((base + 4)))" \
         "198.18.$k.5,198.18.$k.5,$(mac $((base + 5)))" "198.18.$k.9,198.18.$k.9,$(mac $((base + 9)))"
}

# inventory FILE [K=VARIABLES]...: every probe with its segment's /28, and
# more variables for some.
inventory() {
    local file=$1 k extra
    shift
    echo "[probes]" > "$file"
    for k in 1 2 3; do
        extra=$(printf '%s\n' "$@" | sed -n "s/^$k=//p")
        echo "probe$k ansible_host=$(site_probe_address "$k") qarvik_net=198.18.$k.0" \
             "qarvik_mask=255.255.255.240 $extra" >> "$file"
    done
}

# play NAME ARGS...: one run of the play; its output and exit status kept.
play() {
    local name=$1
    shift
    status=0
    for k in 1 2 3; do ip -n "${site_probe_namespaces[k]}" neigh flush all; done
    site_play "$@" > "$work/$name.out" 2>&1 || status=$?
    echo "$name: exit status $status"
}

# check_file NAME FILE: FILE holds exactly the bytes of standard input.
check_file() {
    cat > "$work/expected"
    if ! cmp -s "$2" "$work/expected"; then
        fail "$1: $(basename "$2") differs (expected <, written >)"
        diff <(tr -d '\r' < "$work/expected") <(tr -d '\r' < "$2" 2>&1) || true
    fi
}

# Run 1: every probe installs the package in its overlay and sweeps its /28.
inventory "$work/site.ini"
play all -i "$work/site.ini" "$playbook" -e "qarvik_results=$work/results" -e "qarvik_deb=$deb"
[[ $status -eq 0 ]] || fail "all: $(tail -20 "$work/all.out")"
for k in 1 2 3; do
    check_file all "$work/results/probe$k.csv" < <(segment_rows "$k")
    [[ -x $work/site/layers-$k/usr-upper/bin/qarvik ]] || fail "all: probe $k did not install the package"
done
check_file all "$work/results/site.csv" < <({ segment_rows 1; segment_rows 2; segment_rows 3; })

# Run 2, into the same folder: probe 1 is stopped and segment 3 in NetBEUI
# mode. The play fails naming probe 1; the other files and site.csv are
# written, and probe 1's file of run 1 is gone.
site_stop_probe 1
inventory "$work/site.ini" 3=qarvik_mode=netbeui
play stopped -i "$work/site.ini" "$playbook" -e "qarvik_results=$work/results"
[[ $status -ne 0 ]] || fail "stopped: the play succeeded"
grep -q 'qarvik failed on 1 of 3 probes: probe1 (cannot be reached: ' "$work/stopped.out" ||
    fail "stopped: probe 1 not named: $(grep -i 'fatal\|failed' "$work/stopped.out" | tail -4)"
[[ ! -e $work/results/probe1.csv ]] || fail "stopped: probe 1 keeps the file of the run before"
check_file stopped "$work/results/probe2.csv" < <(segment_rows 2)
# NetBEUI mode lists the nmbd host by its NetBIOS name with its real MAC.
netbeui_rows() { rows "SITE-NB3,$(mac $((3 * 256 + 3)))"; }
check_file stopped "$work/results/probe3.csv" < <(netbeui_rows)
check_file stopped "$work/results/site.csv" < <({ segment_rows 2; netbeui_rows; })

# Run 3: qarvik itself fails on probe 2 (a version it cannot read): the play
# names the probe with qarvik's exit status and what it printed last.
play failing -i "$work/site.ini" "$playbook" -l probe2 -e "qarvik_results=$work/failing" \
    -e '{"qarvik_environment": {"QARVIK_WINVER": "none"}}'
[[ $status -ne 0 ]] || fail "failing: the play succeeded"
grep -q 'qarvik failed on 1 of 1 probes: probe2 (Run qarvik: exit status 1, error output: (none)' \
    "$work/failing.out" || fail "failing: $(grep -i failed "$work/failing.out" | tail -3)"
check_file failing "$work/failing/site.csv" < /dev/null

# The machine itself has not changed: the package is as it was.
[[ $(dpkg-query -W -f '${Status} ${Version}' qarvik 2>/dev/null || true) == "$package_before" ]] ||
    fail "the machine's qarvik package changed"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
