#!/usr/bin/env bash
# Runs two wincmd binaries over one corpus of simulated runs (every named
# Windows version and a few numbered ones, English and Japanese code pages,
# the demo network, the test fixtures and made-up networks that reach the
# error paths, every tool with good and bad arguments) and compares each
# run's exit status, standard output, standard error and batch file byte for
# byte. For a change that must not change what the stand-in prints:
#
#   tests/compare_wincmd.sh BEFORE_WINCMD AFTER_WINCMD
#
# Prints the number of runs compared and every run that differs; exit status
# 1 when any differs. Nothing is sent on any network: live mode is not run.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BEFORE_WINCMD AFTER_WINCMD" >&2
  exit 2
fi
before=$(realpath "$1") && after=$(realpath "$2") || exit 2
fixtures=$(cd "$(dirname "$0")/fixtures" && pwd) || exit 2
work=$(mktemp -d "${TMPDIR:-/tmp}/compare-wincmd.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

cat > "$work/browse_and_ppp.txt" <<'EOF'
machine ＭＹＰＣ
adapter 172.16.5.4   02-00-00-00-00-01
adapter 10.8.0.2     02-00-00-00-00-02 ppp
adapter -            02-00-00-00-00-03
host 172.16.5.1   02-00-00-00-01-01 gw.example   up 0.4
host 172.16.5.9   02-00-00-00-01-09 -            up 25
host 172.16.200.9 02-00-00-00-01-0A slow         up 120
browse ＳＥＲＶＥＲ 02-00-00-00-01-01 全角の名前
browse gw         02-00-00-00-01-01   remark with   blanks  
EOF
cat > "$work/empty.txt" <<'EOF'
machine EMPTY
adapter 192.168.9.9 02-00-00-00-00-09
EOF
printf 'machine A\nadapter 1.2.3.4 00-00-00-00-00-0G\n' > "$work/bad_mac.txt"
printf 'machine A\nhost 1.2.3.4 00-00-00-00-00-01 x up\nhost 1.2.3.4 00-00-00-00-00-02 y up\n' \
  > "$work/duplicate.txt"
printf 'machine A\nfrobnicate\n' > "$work/keyword.txt"
printf 'adapter 1.2.3.4 00-00-00-00-00-01\n' > "$work/no_machine.txt"

networks=("" "$fixtures/small_office.txt" "$fixtures/adapter_kinds.txt" "$fixtures/no_address.txt"
          "$work/browse_and_ppp.txt" "$work/empty.txt")
bad_networks=("$work/bad_mac.txt" "$work/duplicate.txt" "$work/keyword.txt" "$work/no_machine.txt"
              "$work/missing.txt")
versions=(95 98 me nt4 2000 xp 2003 vista 7 8 8.1 10 11 2008 2008r2 2012 2012r2 2016 2019 2022
          2025 6.4.9000 3.51.1057 bogus)
code_pages=(932 437)
commands=(
  "ipconfig" "ipconfig /all" "IPCONFIG.EXE -ALL" "ipconfig /renew"
  "winipcfg" "winipcfg /all" "winipcfg /all /batch BATCH" "winipcfg /batch"
  "ping 192.168.1.1" "ping -a 192.168.1.1" "ping -n 2 192.168.1.40" "ping -a -n 1 192.168.1.50"
  "ping 10.1.2.3" "ping -a 10.1.2.3" "ping -n 1 -w 10 10.1.2.5" "ping 172.16.5.1"
  "ping -a 172.16.5.9" "ping -a 172.16.200.9" "ping -a 10.8.0.2" "ping -a 192.168.4.20"
  "ping pc-sales1" "ping GATEWAY" "ping ghost" "ping nowhere" "ping myPC" "ping ＭＹＰＣ"
  "ping -n 0 1.2.3.4" "ping -w x 1.2.3.4" "ping -x 1.2.3.4" "ping" "ping -n"
  "arp -a" "arp -g" "arp -a 192.168.1.50" "arp -a 192.168.1.40" "arp -a 10.1.2.6"
  "arp -a 172.16.5.9" "arp -a 999.1.1.1" "arp" "arp -d 1.2.3.4"
  "net view" "NET VIEW" "net use" "net"
  "nbtstat -a PC-SALES1" "nbtstat -a fileserver" "nbtstat -a pc-a" "nbtstat -a ｓｅｒｖｅｒ"
  "nbtstat -a ＳＥＲＶＥＲ" "nbtstat -a gw" "nbtstat -a NOBODY" "nbtstat -A 1.2.3.4" "nbtstat"
  "del BATCH" "del /q" "del /q BATCH" "frobnicate" ""
  "ping 192.168.1.1 > OUT" "arp -a >> OUT" ">" "net view > /no/such/dir/x"
)

count=0
differ=0
# Runs one wincmd in a fresh folder and prints a digest of everything it left.
run() {
  local binary=$1 network=$2 version=$3 code_page=$4 command=$5
  local dir="$work/run"
  rm -rf "$dir" && mkdir "$dir"
  local line=${command//BATCH/$dir/batch.txt}
  line=${line//OUT/$dir/out.txt}
  (cd "$dir" && QARVIK_NETWORK=$network QARVIK_WINVER=$version QARVIK_CODEPAGE=$code_page \
     "$binary" /c "$line" > stdout 2> stderr; echo "status $?" > status)
  (cd "$dir" && cat status stdout stderr && for f in batch.txt out.txt; do
     [ -f "$f" ] && { echo "== $f"; cat "$f"; }; done) | sha256sum
}
compare() {
  count=$((count + 1))
  local a b
  a=$(run "$before" "$@")
  b=$(run "$after" "$@")
  if [ "$a" != "$b" ]; then
    differ=$((differ + 1))
    echo "DIFFERS: QARVIK_NETWORK='$1' QARVIK_WINVER=$2 QARVIK_CODEPAGE=$3 wincmd /c \"$4\""
  fi
}

for network in "${networks[@]}"; do
  for version in "${versions[@]}"; do
    for code_page in "${code_pages[@]}"; do
      for command in "${commands[@]}"; do compare "$network" "$version" "$code_page" "$command"; done
    done
  done
done
for network in "${bad_networks[@]}"; do
  for command in "ipconfig /all" "ping 1.2.3.4" "arp -a" "net view" "nbtstat -a X" "del /q"; do
    compare "$network" xp 932 "$command"
  done
done
# The interpreter's own usage line.
count=$((count + 1))
[ "$("$before" 2>&1; echo $?)" = "$("$after" 2>&1; echo $?)" ] ||
  { differ=$((differ + 1)); echo "DIFFERS: wincmd without /c"; }

echo "$count runs compared, $differ differ"
[ "$differ" -eq 0 ]
