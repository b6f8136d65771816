#!/usr/bin/env bash
# The site play on real SSH, as a user runs it (no ansible.cfg): three
# segments of network namespaces, segments 2 and 3 on the same address range
# with other hosts, each with a probe that runs sshd on a management network,
# and a controller namespace that runs ansible/site.yml with the package this
# build makes. Each run checks the files on the controller byte for byte and
# what the play says: a whole run, a second one that changes nothing, --check,
# a missing and a misspelt variable, one probe failing, every probe failing
# (each for its own reason), --limit (its probe's qarvik gone, installed
# again), and a probe that cannot be reached with another in NetBEUI mode.
# Needs root, `ip netns`, nmbd, sshd and
# ansible-playbook; without them it exits 77 (skipped), or fails where
# QARVIK_LIVE_SEGMENT_REQUIRED is 1.
#
#   tests/ansible/site_test.sh CPACK BUILD_DIR
set -euo pipefail

cpack=$1
build=$(realpath "$2")
playbook=$(realpath "$(dirname "$0")/../../ansible/site.yml")
source "$(dirname "$0")/site_lab.sh"
segment_require_nmbd
site_require_tools

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-site-XXXXXX")
trap 'site_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
package_before=$(dpkg-query -W -f '${Status} ${Version}' qarvik 2>/dev/null || true)

site_make_package "$cpack" "$build" "$work"
deb=$(cd "$work" && echo package/qarvik_*.deb)

# Segment K on NET_K.0/24 (segment 3 on segment 2's range, its hosts with
# MACs of their own): an nmbd host .3 (first: it registers its names some
# seconds after it starts), a host named in the probe's hosts file .4, one
# that drops ICMP echo .5, an unnamed one .9, and the probe on .1.
net=(- 198.18.1 198.18.2 198.18.2)
site_start "$work/site"
for k in 1 2 3; do
    site_add_segment "$k" "${net[k]}"
    site_add_host "$k" 3 up;      segment_add_nmbd $((k * 256 + 3)) "SITE-NB$k"
    site_add_host "$k" 4 up;      segment_name "${net[k]}.4" "printer$k"
    site_add_host "$k" 5 no-echo
    site_add_host "$k" 9 up
    site_add_probe "$k"
    segment_name "${net[k]}.1" "probe$k"
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
rows() { printf '%s\r\n' "$@"; }
mac() { segment_mac "$1" | tr : -; }
results=$work/results

# segment_rows K: the rows of probe K's /28 sweep: its own address on the
# segment (the management network's is no host of it), named by the probe's
# host name, the named hosts, then those found only in the ARP cache.
segment_rows() {
    local k=$1 base=$(($1 * 256)) n=${net[$1]}
    rows "probe$k,$n.1,$(mac $((base + 1)))" "SITE-NB$k,$n.3,$(mac $((base + 3)))" \
         "printer$k,$n.4,$(mac $((base + 4)))" "$n.5,$n.5,$(mac $((base + 5)))" "$n.9,$n.9,$(mac $((base + 9)))"
}
netbeui_rows() { rows "SITE-NB$1,$(mac $(($1 * 256 + 3)))"; }
# site_rows PROBE ROWS_COMMAND...: rows of site.csv for one probe's file;
# every MAC of the lab is locally administered.
site_rows() { local probe=$1; shift; "$@" | sed "s/^/$probe,/; s/\r\$/,locally administered\r/"; }
site_header() { rows "probe,name,address,mac,vendor"; }

# inventory FILE [K=VARIABLES]...: every probe with its segment's /28, and
# more variables for some (K=-qarvik_net leaves its segment out).
inventory() {
    local file=$1 k extra segment
    shift
    echo "[probes]" > "$file"
    for k in 1 2 3; do
        extra=$(printf '%s\n' "$@" | sed -n "s/^$k=//p")
        segment="qarvik_net=${net[k]}.0 qarvik_mask=255.255.255.240"
        [[ $extra != -qarvik_net* ]] || { segment=; extra=${extra#-qarvik_net}; }
        echo "probe$k ansible_host=$(site_probe_address "$k") $segment $extra" >> "$file"
    done
}

# play NAME ARGS...: one run of the play from $work (not the playbook's
# folder), as a user runs it; its output and exit status kept.
play() {
    local name=$1
    shift
    status=0
    for k in 1 2 3; do ip -n "${site_probe_namespaces[k]}" neigh flush all; done
    (cd "$work" && site_play_as_user -i site.ini "$playbook" -e "qarvik_results=$results" "$@") \
        > "$work/$name.out" 2>&1 || status=$?
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
# recap NAME PROBE FIELD=VALUE: the play's recap line of PROBE says so.
recap() {
    grep -Eq "^$2 +:.* $3 " "$work/$1.out" || fail "$1: $2 not $3: $(grep -E "^$2 +:" "$work/$1.out")"
}
said() { grep -qF -- "$2" "$work/$1.out" || fail "$1: does not say: $2"; }
# keep NAME / kept NAME: every file of the results folder, bytes and inode,
# before a run and the same after it (KEPT NAME 'A|B': all but the files A
# and B), no temporary file left.
listing() {
    (cd "$results" && find . -type f | sort | while read -r f; do echo "${f#./} $(stat -c %i "$f") $(sha1sum < "$f")"; done)
}
keep() { listing > "$work/kept-$1"; }
# What a run that commits changes even when the site does not.
every_run='probes.csv|hosts.csv|site.db|site.html'
kept() {
    local now
    now=$(listing)
    diff <(grep -Ev "^(${2:-none}) " "$work/kept-$1") <(grep -Ev "^(${2:-none}) " <<< "$now") > /dev/null ||
        fail "$1: results changed: $(diff "$work/kept-$1" <(echo "$now") | tr '\n' ' ')"
}
# probe_line PROBE OUTCOME LAST_GOOD [REASON]: probes.csv's line of PROBE
# (LAST_GOOD its start, REASON a part of its reason).
probe_line() {
    local line
    line=$(grep "^$1," "$results/probes.csv" | tr -d '\r')
    [[ $line == "$1,$2,$3"* ]] || fail "probes.csv: expected $1,$2,$3...: $line"
    [[ -z ${4:-} || $line == *"$4"* ]] || fail "probes.csv: $1's reason lacks '$4': $line"
}
last_good() { grep "^$1," "$results/probes.csv" | cut -d, -f3; }
untouched() { ! grep -q 'TASK \[qarvik : Look at the probe' "$work/$1.out" || fail "$1: a probe was touched"; }

# Run 1: every probe installs the package and sweeps its /28; the package
# is named relative to the directory the command runs in.
inventory "$work/site.ini"
play all -e "qarvik_deb=$deb"
[[ $status -eq 0 ]] || fail "all: $(tail -20 "$work/all.out")"
for k in 1 2 3; do
    check_file all "$results/probes/probe$k.csv" < <(segment_rows "$k")
    [[ -x $work/site/layers-$k/usr-upper/bin/qarvik ]] || fail "all: probe $k did not install the package"
    probe_line "probe$k" ok "$(date +%Y-%m-%dT)"
done
# The same address in segments 2 and 3 with other MACs: both rows stay.
check_file all "$results/site.csv" < <(site_header; for k in 1 2 3; do site_rows "probe$k" segment_rows "$k"; done)
[[ $(last_good probe1) =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}$ ]] ||
    fail "all: last_good is not ISO 8601 with its offset: $(last_good probe1)"
cp -a "$results" "$work/results-1"

# Run 2, nothing changed: nothing copied, installed or replaced but
# probes.csv, and the run's time in site.db and hosts.csv; and without an ansible.cfg every module goes down the SSH
# command itself (pipelining), none as a file.
keep again
sleep 1
play again -vvv -e "qarvik_deb=$deb"
[[ $status -eq 0 ]] || fail "again: $(tail -20 "$work/again.out")"
for k in 1 2 3; do recap again "probe$k" changed=0; done
grep -q '^<198\.19\.0\.1[1-3]> PUT ' "$work/again.out" && fail "again: a module sent as a file: no pipelining"
kept again "$every_run"
[[ $(last_good probe1) != "$(grep '^probe1,' "$work/results-1/probes.csv" | cut -d, -f3)" ]] ||
    fail "again: last_good is still the first run's"

# --check: no error, no file changed, no sweep.
keep check
play check --check -e "qarvik_deb=$deb"
[[ $status -eq 0 ]] || fail "check: $(grep -i 'fatal\|failed' "$work/check.out" | tail -4)"
kept check
grep -A4 'TASK \[qarvik : Run qarvik' "$work/check.out" | grep -q '^ok:' && fail "check: qarvik ran"
said check "--check: no segment swept, nothing compared, no file written"

# A missing package and a misspelt mode stop the play before any probe is
# touched, naming the path and the variable; every file stays as it was.
keep refused
play missing -e qarvik_deb=package/none.deb
[[ $status -ne 0 ]] || fail "missing: the play succeeded"
said missing "no such file on the controller: $work/package/none.deb"
untouched missing
inventory "$work/site.ini" 2=qarvik_mode=netbios
play misspelt
[[ $status -ne 0 ]] || fail "misspelt: the play succeeded"
said misspelt "qarvik_mode must be ip or netbeui (in any case), not 'netbios'"
untouched misspelt
kept refused

# One probe fails (a version qarvik cannot read): its earlier file stays, its
# rows stay in site.csv, its line says why in readable text, the recap counts
# the failure on it alone; the run's helper script is not printed.
inventory "$work/site.ini" "2=qarvik_environment='{\"QARVIK_WINVER\": \"none\"}'"
earlier=$(last_good probe2)
play one
[[ $status -ne 0 ]] || fail "one: the play succeeded"
said one "no inventory from 1 of 3 probes: probe2 failed;"
! grep -qF 'base64 -w 0' "$work/one.out" || fail "one: the helper script is printed"
recap one probe2 failed=1; recap one probe1 failed=0; recap one probe3 failed=0
cmp -s "$results/probes/probe2.csv" "$work/results-1/probes/probe2.csv" || fail "one: probe 2's file changed"
cmp -s "$results/site.csv" "$work/results-1/site.csv" || fail "one: site.csv changed"
probe_line probe2 failed "$earlier" "qarvik exit status 1"
probe_line probe2 failed "$earlier" "OSバージョン取得に失敗しました。"

# Every probe fails, each for its own reason: a segment not its own, two
# networks and no qarvik_net, a user without root and no become. Every file
# but probes.csv stays as it was.
inventory "$work/site.ini" 1=qarvik_net=198.18.2.0 2=-qarvik_net 3=ansible_user=qprobe
keep none
for k in 1 2 3; do before[k]=$(last_good "probe$k"); done
play none -e "qarvik_deb=$deb"
[[ $status -ne 0 ]] || fail "none: the play succeeded"
kept none probes.csv
for k in 1 2 3; do recap none "probe$k" failed=1; done
probe_line probe1 failed "${before[1]}" \
    "qarvik_net 198.18.2.0/28 is not a network of this probe; its networks: 198.18.1.0/24 (q1), 198.19.0.0/24 (m0)"
probe_line probe2 failed "${before[2]}" \
    "the probe has more than one IPv4 network, 198.18.2.0/24 (q1), 198.19.0.0/24 (m0): set qarvik_net"
probe_line probe3 failed "${before[3]}" "installing qarvik_deb needs root on the probe, the user here has uid"

# --limit: one probe runs, its qarvik gone while its package says installed:
# the package is installed again. site.csv is still the whole site; the
# others say they did not run, with the time of their kept files.
inventory "$work/site.ini"
keep limit
earlier=$(last_good probe1)
ip netns exec "$site_controller" ssh -F "$work/site/ssh/config" "$(site_probe_address 2)" rm /usr/bin/qarvik
play limit --limit probe2 -e "qarvik_deb=$deb"
[[ $status -eq 0 ]] || fail "limit: $(tail -20 "$work/limit.out")"
kept limit "$every_run"
probe_line probe1 "not run" "$earlier"
probe_line probe2 ok "$(date +%Y-%m-%dT)"

# Probe 1 is stopped and probe 3 in NetBEUI mode, spelt as the README spells
# it: probe 1 keeps its file and its rows, probe 3 warns of its networks.
site_stop_probe 1
inventory "$work/site.ini" 3=qarvik_mode=NetBEUI
earlier=$(last_good probe1)
play stopped
[[ $status -ne 0 ]] || fail "stopped: the play succeeded"
said stopped "no inventory from 1 of 3 probes: probe1 unreachable;"
said stopped "NetBEUI mode lists the computers of every network of the probe: 198.18.2.0/24 (q1), 198.19.0.0/24 (m0)"
recap stopped probe1 failed=1; recap stopped probe3 failed=0
cmp -s "$results/probes/probe1.csv" "$work/results-1/probes/probe1.csv" || fail "stopped: probe 1's file changed"
probe_line probe1 unreachable "$earlier" "cannot be reached: "
check_file stopped "$results/probes/probe3.csv" < <(netbeui_rows 3)
check_file stopped "$results/site.csv" < <(site_header; site_rows probe1 segment_rows 1; site_rows probe2 segment_rows 2
                                           site_rows probe3 netbeui_rows 3 | sed 's/^\(probe3,[^,]*\),/\1,,/')

# The machine itself has not changed: the package is as it was.
[[ $(dpkg-query -W -f '${Status} ${Version}' qarvik 2>/dev/null || true) == "$package_before" ]] ||
    fail "the machine's qarvik package changed"

((failures == 0)) || { echo "$failures check(s) failed"; exit 1; }
echo "all checks passed"
