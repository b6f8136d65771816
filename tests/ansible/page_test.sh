#!/usr/bin/env bash
# The site's page as a run of the play writes it, on real SSH: two segments
# of network namespaces (tests/ansible/site_lab.sh), office and 倉庫 (a
# warehouse), whose probe's hosts file gives a host a name of markup. A
# first run starts the site; then hosts leave and come, and a second run
# writes the page that headless chromium checks against site.csv and
# changes.csv (site_page_browser.py), keeping its screenshot in
# BUILD_DIR/site-page/. Needs root, `ip netns`, sshd,
# ansible-playbook and chromium; without them it exits 77 (skipped), or
# fails where QARVIK_LIVE_SEGMENT_REQUIRED is 1.
#
#   tests/ansible/page_test.sh CPACK BUILD_DIR
set -euo pipefail

cpack=$1
build=$(realpath "$2")
here=$(dirname "$0")
playbook=$(realpath "$here/../../ansible/site.yml")
source "$here/site_lab.sh"
site_require_tools
command -v chromium >/dev/null || {
    [[ ${QARVIK_LIVE_SEGMENT_REQUIRED:-0} == 1 ]] && { echo "FAIL: needs chromium"; exit 1; }
    echo "skipped: needs chromium (Debian package chromium)"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-page-XXXXXX")
trap 'site_remove; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
site_make_package "$cpack" "$build" "$work"
deb=$(echo "$work"/package/qarvik_*.deb)

# Names as an office has them, one that is markup (a host name holds no
# blank, so the markup has none) and a segment in Japanese. The warehouse
# is made last, so segment.sh's host functions act on it.
japanese=倉庫
markup='<svg/onload=alert(1)>'
segments=(- office "$japanese")
names=(- "fileserver $markup" "scanner pc-stock")
site_start "$work/site"
for k in 1 2; do
    site_add_segment "$k"
    for n in 4 5 6 9; do segment_add_host $((k * 256 + n)) up; done
    segment_name "198.18.$k.4" "printer$k"
    read -r name5 name6 <<<"${names[k]}"
    segment_name "198.18.$k.5" "$name5"
    segment_name "198.18.$k.6" "$name6"
    site_add_probe "$k"
done
printf '[probes]\n' > "$work/site.ini"
for k in 1 2; do
    echo "probe$k ansible_host=$(site_probe_address "$k") qarvik_segment=${segments[k]}" \
         "qarvik_net=198.18.$k.0 qarvik_mask=255.255.255.240" >> "$work/site.ini"
done

results=$work/results
play() {
    local name=$1 k status=0
    shift
    for k in 1 2; do ip -n "${site_probe_namespaces[k]}" neigh flush all; done
    site_play -i "$work/site.ini" "$playbook" -e "qarvik_results=$results" "$@" > "$work/$name.out" 2>&1 || status=$?
    [[ $status -eq 0 ]] || { echo "FAIL: run $name ended $status: $(grep -i 'fatal\|error' "$work/$name.out" | tail -5)"; exit 1; }
}
play first -e "qarvik_deb=$deb"
# One host leaves the office; in the warehouse one leaves and two come.
ip -n "$site_prefix-1-h$((256 + 9))" link set eth0 down
ip -n "$SEGMENT_PREFIX-h$((2 * 256 + 9))" link set eth0 down
segment_add_host $((2 * 256 + 7)) up
segment_add_host $((2 * 256 + 8)) up
play second
grep -q '^gone,' "$results/changes.csv" && grep -q '^new,' "$results/changes.csv" ||
    { echo "FAIL: the second run found no new and no gone host: $(cat "$results/changes.csv")"; exit 1; }
python3 "$here/site_page_browser.py" "$build/site-page" "$results" "$japanese" "$markup" printer1 ||
    { echo "site.csv:"; cat "$results/site.csv"; exit 1; }
