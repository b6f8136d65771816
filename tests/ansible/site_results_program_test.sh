#!/usr/bin/env bash
# The site's files as the play has them written: ansible/roles/qarvik/files/
# site_results.py run as a program with the probes in JSON on its standard
# input, as the controller's task runs it. Checks the files it writes, what
# it says it wrote, and that input it refuses or cannot read leaves the
# folder as it was, with a non-zero exit. (The store case by case:
# site_results_test.py.)
#
#   tests/ansible/site_results_program_test.sh
set -euo pipefail

helper=$(dirname "$0")/../../ansible/roles/qarvik/files/site_results.py
work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-site-results-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

b64() { printf '%b' "$1" | base64 -w 0; }
# results NAME JSON EXPECTED_STATUS EXPECTED_OUTPUT: one run into $work/results
# (the output without the line of the run's time).
results() {
    local status=0 output
    python3 "$helper" "$work/results" <<< "$2" > "$work/output" 2> "$work/errors" || status=$?
    output=$(grep -v '^site.db: run ' "$work/output" || true)
    [[ $status -eq $3 ]] || fail "$1: exit status $status: $(cat "$work/errors")"
    [[ $output == "$4" ]] || fail "$1: printed $output"
}
listing() { (cd "$work/results" && find . -type f -exec sha1sum {} + | sort); }

results "first run" "{\"probes\": [{\"name\": \"hall\", \"outcome\": \"ok\", \"reason\": \"\",
    \"response\": \"$(b64 'pc1,10.1.0.5,00-11\r\n')\"},
    {\"name\": \"store\", \"outcome\": \"failed\", \"reason\": \"exit status 3\"}]}" \
    0 "$(printf '%s\n' 'site: 1 host, first run, nothing to compare with' 'site.csv: replaced' \
         'hosts.csv: replaced' 'changes.csv: replaced' 'probes/hall.csv: replaced' 'probes.csv: replaced')"
cmp -s "$work/results/probes/hall.csv" <(printf 'pc1,10.1.0.5,00-11\r\n') || fail "first run: hall.csv differs"
cmp -s "$work/results/site.csv" <(printf 'probe,name,address,mac,vendor\r\nhall,pc1,10.1.0.5,00-11,\r\n') ||
    fail "first run: site.csv differs: $(od -c "$work/results/site.csv" | head -3)"
grep -Eq $'^store,failed,,exit status 3\r$' "$work/results/probes.csv" ||
    fail "first run: probes.csv: $(cat "$work/results/probes.csv")"

listing > "$work/before"
results "a response file that is not base64" \
    '{"probes": [{"name": "hall", "outcome": "ok", "reason": "", "response": "%%%"}]}' 1 ""
results "an unknown outcome" '{"probes": [{"name": "hall", "outcome": "gone"}]}' 1 ""
results "no JSON" 'probes: hall' 1 ""
results "a probe without its name" '{"probes": [{"outcome": "not run"}]}' 1 ""
cmp -s "$work/before" <(listing) || fail "refused input changed the results folder"

status=0
python3 "$helper" < /dev/null > /dev/null 2>&1 || status=$?
[[ $status -eq 2 ]] || fail "no folder named: exit status $status"

((failures == 0)) || exit 1
echo "site results program: all cases passed"
