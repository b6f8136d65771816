#!/usr/bin/env bash
# The rows of site.csv (ansible/roles/qarvik/files/site_rows.awk): the
# response files in the order given, every host once, its first row kept, CR
# LF line ends as written.
#
#   tests/ansible/site_rows_test.sh
set -euo pipefail

merge=$(dirname "$0")/../../ansible/roles/qarvik/files/site_rows.awk
work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-site-rows-XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# case_of NAME EXPECTED FILE...: each FILE a list of rows joined by '|', each row
# written with CR LF; EXPECTED the same for the merged rows.
case_of() {
    local name=$1 expected=$2 i=0 files=()
    shift 2
    for rows in "$@"; do
        i=$((i + 1))
        tr '|' '\n' <<< "$rows" | grep -v '^$' | sed 's/$/\r/' > "$work/$i.csv" || true
        files+=("$work/$i.csv")
    done
    tr '|' '\n' <<< "$expected" | grep -v '^$' | sed 's/$/\r/' > "$work/expected" || true
    awk -f "$merge" "${files[@]}" < /dev/null > "$work/merged"
    cmp -s "$work/expected" "$work/merged" ||
        { echo "FAIL: $name: $(od -c "$work/merged" | head -5)"; failures=$((failures + 1)); }
}

case_of "files in the order given" \
    "a,10.0.1.1,m1|b,10.0.2.1,m2|c,10.0.0.1,m3" "a,10.0.1.1,m1|b,10.0.2.1,m2" "c,10.0.0.1,m3"
case_of "a host seen twice keeps its first row" \
    "a,10.0.1.1,m1|10.0.1.9,10.0.1.9,m9" "a,10.0.1.1,m1|10.0.1.9,10.0.1.9,m9" "other,10.0.1.1,m1|10.0.1.9,10.0.1.9,"
case_of "a host without a MAC is a host too" \
    "ghost,10.0.1.12,|b,10.0.2.1,m2" "ghost,10.0.1.12," "named,10.0.1.12,m12|b,10.0.2.1,m2"
case_of "NetBEUI rows: a computer once, by its name" \
    "PC1,m1|PC2,m2|pc1,m1" "PC1,m1|PC2,m2" "PC1,m9|pc1,m1"
case_of "a name with a comma: the field before the MAC decides" \
    "A,B,m1|A,B,10.0.0.1,m2" "A,B,m1|A,B,10.0.0.1,m2" "C,10.0.0.1,m3|A,B,m9"
case_of "no rows at all" "" "" ""

# A file's bytes pass unchanged, a CR inside a row included.
printf 'a,10.0.0.1,m1\r\nb\rx,10.0.0.2,m2\r\n' > "$work/raw.csv"
awk -f "$merge" "$work/raw.csv" < /dev/null | cmp -s - "$work/raw.csv" ||
    { echo "FAIL: a file's bytes changed"; failures=$((failures + 1)); }

((failures == 0)) || exit 1
echo "site rows: all cases passed"
