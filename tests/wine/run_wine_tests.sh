#!/usr/bin/env bash
# Runs the 32-bit Windows build (Qarvik.exe and the stand-in tools built as
# Windows programs) under Wine as every Windows version of the platform table
# and beyond it (win95, win98, winme, nt40, win2k, winxp, win2003, nt351), and
# as every version from Vista on that this Wine knows, in English and in
# Japanese (Wine's locale ja_JP.UTF-8 gives the tools code page 932), and
# compares each run byte for byte with the same run of the Linux build against
# wincmd under the matching QARVIK_WINVER and QARVIK_CODEPAGE: the exit status, the console output
# and the error output (with the CR LF of Windows text mode read as LF), the
# response file, and the work files left in the temp folder.
#
#   tests/wine/run_wine_tests.sh BUILD_WIN_DIR BUILD_LINUX_DIR
#
# Needs 32-bit Wine (wine32), and root for a network namespace: the whole script
# runs inside `unshare -n`, where only loopback exists, because Wine's own tools
# are real network tools. One new, temporary 32-bit prefix serves every version,
# switched with winecfg -v; set QARVIK_WINE_KEEP=1 to keep the work folder for a
# look after a failure.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_WIN_DIR BUILD_LINUX_DIR" >&2
  exit 2
fi

# Nothing below may run with a network: start again inside a namespace that has
# no interface but loopback, and check that it really has none.
if [ -z "${QARVIK_WINE_NETNS:-}" ]; then
  exec unshare -n env QARVIK_WINE_NETNS=1 bash "$0" "$@"
fi
interfaces=$(awk 'NR > 2 { sub(":", "", $1); print $1 }' /proc/net/dev | grep -vx lo)
if [ -n "$interfaces" ]; then
  echo "refusing to run Wine: network interfaces present: $interfaces" >&2
  exit 2
fi

win_dir=$(cd "$1" && pwd) || exit 2
lin_dir=$(cd "$2" && pwd) || exit 2
for file in "$win_dir/Qarvik.exe" "$win_dir/replace_steps.exe" "$lin_dir/qarvik" "$lin_dir/wincmd" \
            "$win_dir"/tools/{ipconfig,winipcfg,ping,arp,net,nbtstat}.exe; do
  [ -f "$file" ] || { echo "missing: $file" >&2; exit 2; }
done
for command in wine wineboot winecfg wineserver winepath perl; do
  command -v "$command" >/dev/null || { echo "missing: $command" >&2; exit 2; }
done
[ -x /usr/lib/wine/wine ] || { echo "missing: 32-bit Wine (wine32)" >&2; exit 2; }
# The Japanese runs need the locale that Wine takes code page 932 from.
japanese_locale=ja_JP.UTF-8
locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8' || {
  echo "missing: the $japanese_locale locale (localedef -i ja_JP -f UTF-8 $japanese_locale)" >&2
  exit 2
}

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-wine.XXXXXX") || exit 2
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all LC_ALL=C LANG=C
unset DISPLAY WAYLAND_DISPLAY COMSPEC QARVIK_WINVER QARVIK_NETWORK
cleanup() {
  wineserver -k >/dev/null 2>&1
  if [ "${QARVIK_WINE_KEEP:-}" = 1 ]; then
    echo "work folder kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }

started=$SECONDS
echo "== 32-bit Wine prefix in $WINEPREFIX"
wineboot -i >"$work/wineboot.log" 2>&1
wineserver -p  # one server for every run: no start-up per command
win_temp=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r\n')
win_temp_unix=$(winepath -u "$win_temp" 2>/dev/null)
win_temp_unix=${win_temp_unix%/}
[ -d "$win_temp_unix" ] || { echo "no Windows temp folder ($win_temp)" >&2; exit 1; }
export WINEPATH
WINEPATH=$(winepath -w "$win_dir/tools" 2>/dev/null)
echo "   ready in $((SECONDS - started)) s; temp folder $win_temp, tools from $WINEPATH"

# A /29 segment: five hosts to sweep, every host state, a DNS name and a browse
# list with a code page 932 name.
network="$work/net.txt"
{
  echo "# Small office segment 10.20.30.0/29"
  echo "machine DESK01"
  echo "adapter 10.20.30.2 00-A0-C9-12-34-56"
  echo "adapter 0.0.0.0    00-A0-C9-65-43-21"
  echo "host 10.20.30.1 00-0C-29-00-00-01 GATEWAY up"
  echo "host 10.20.30.3 00-0C-29-00-00-03 PRINTER up"
  echo "host 10.20.30.4 00-0C-29-00-00-04 -       up"
  echo "host 10.20.30.5 00-0C-29-00-00-05 LAPTOP  down"
  echo "host 10.20.30.6 00-0C-29-00-00-06 -       arp-only"
  echo "dns  10.20.30.7 OLD-SERVER"
  echo "browse DESK01   00-A0-C9-12-34-56 Front desk"
  echo "browse GATEWAY  00-0C-29-00-00-01 Router"
  printf 'browse %s 00-0C-29-00-00-03 Accounts\n' "$(printf '経理ＰＣ' | iconv -f UTF-8 -t CP932)"
} >"$network"
network_win=$(winepath -w "$network" 2>/dev/null)

# With OLD_RESPONSE set, a run finds a response file of that text in its
# folder, which it must replace.
plant_old_response() {
  if [ -n "${OLD_RESPONSE-}" ]; then printf '%s' "$OLD_RESPONSE" >"$1/rsp.txt"; fi
}

# Runs the Linux build in $1 (a fresh folder) with the arguments that follow;
# the work files go to $1/$TEMP_NAME.
run_linux() {
  local dir=$1; shift
  mkdir -p "$dir/$TEMP_NAME"
  plant_old_response "$dir"
  (cd "$dir" && env TMPDIR="$dir/$TEMP_NAME" QARVIK_WINVER="$LINUX_WINVER" \
     QARVIK_CODEPAGE="$LINUX_CODEPAGE" QARVIK_NETWORK="$network" \
     COMSPEC="$lin_dir/wincmd" timeout 60 "$lin_dir/qarvik" "$@" >out.bin 2>err.bin
   echo $? >status.txt)
}

# The same run of Qarvik.exe under Wine; the work files go to the Windows temp folder.
run_windows() {
  local dir=$1; shift
  mkdir -p "$dir"
  plant_old_response "$dir"
  (cd "$dir" && env LC_ALL="$WINE_LOCALE" QARVIK_NETWORK="$network_win" \
     timeout 120 wine "$win_dir/Qarvik.exe" "$@" >out.bin 2>err.bin
   echo $? >status.txt)
}

# Console text with the temp folders of both platforms written as <temp>/, and
# a run's private work folder inside it as <temp>/qarvik-*/, so a line that
# names a work file compares equal. The system's reason after qarvik's own
# messages is each system's own text: only that there is one is compared.
normalized() {
  perl -pe 'BEGIN { $l = shift; $w = shift }
            s/\Q$l\E/<temp>\//g; s/\Q$w\E/<temp>\//g;
            s{<temp>/qarvik-[^\\/\s"]+[\\/]}{<temp>/qarvik-*/}g;
            s/^(qarvik: .*): [^:]+$/$1: <reason>/' \
    "$LIN_TEMP_PREFIX" "$WIN_TEMP_PREFIX" "$1"
}

# The Windows side's console text as the Linux side writes it: Windows text
# mode writes every "\n" as CR LF, read back as the "\n" it was; and Wine's
# cmd.exe reports a missing file of `del` as "<path>: File Not Found" where the
# Windows one, and wincmd after it, say "Could Not Find <path>".
windows_console_read() {
  perl -pe 's/\r\n/\n/g; s/^(.*): File Not Found$/Could Not Find $1/' "$1"
}

# What a run left in a temp folder: a line per file or folder, its path with
# the private work folder masked, and after a file's line its bytes in hex.
leftovers() {
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while IFS= read -r entry; do
     if [ -f "$entry" ]; then
       printf '%s\n' "$entry"
       od -An -tx1 -v "$entry"
     else
       printf '%s/\n' "$entry"
     fi
   done) | sed 's|^\./qarvik-[^/ ]*|./qarvik-*|'
}

same_bytes() {  # name, linux file, windows file
  if cmp -s "$2" "$3"; then
    pass "$1"
  else
    fail "$1"
    cmp "$2" "$3" 2>&1 | sed 's/^/     /'
    diff -a "$2" "$3" | head -n 20 | cat -A | sed 's/^/     /'
  fi
}

# Runs one case on both platforms and compares. $1 names the case; $2 is
# "rsp" when a response file rsp.txt must be written, "none" when none may be.
check_case() {
  local name=$1 response=$2; shift 2
  local lin="$work/linux/$name" win="$work/windows/$name"
  local case_started=$SECONDS
  find "$win_temp_unix" -mindepth 1 -delete
  # The two runs share nothing, and the Linux one mostly waits: run them at once.
  run_linux "$lin" "$@" &
  run_windows "$win" "$@"
  wait
  LIN_TEMP_PREFIX="$lin/$TEMP_NAME/" WIN_TEMP_PREFIX="$WIN_TEMP_PREFIX_NOW"
  same_bytes "$name: exit status" "$lin/status.txt" "$win/status.txt"
  # Nothing but the response file is left beside it: no new or old copy.
  local beside
  beside=$(ls -A "$win" | grep -v -x -e out.bin -e err.bin -e status.txt -e rsp.txt)
  if [ -z "$beside" ]; then
    pass "$name: nothing left beside the response file"
  else
    fail "$name: nothing left beside the response file: $beside"
  fi
  if [ -s "$win/out.bin" ] && perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' "$win/out.bin"; then
    pass "$name: console lines of the Windows build end in CR LF"
  else
    fail "$name: console lines of the Windows build end in CR LF"
  fi
  local stream
  for stream in out err; do
    normalized "$lin/$stream.bin" >"$lin/$stream.txt"
    windows_console_read "$win/$stream.bin" >"$win/$stream.read"
    normalized "$win/$stream.read" >"$win/$stream.txt"
  done
  same_bytes "$name: console output" "$lin/out.txt" "$win/out.txt"
  same_bytes "$name: error output" "$lin/err.txt" "$win/err.txt"
  if [ "$response" = rsp ]; then
    if [ -s "$win/rsp.txt" ] && ! grep -q $'[^\r]$' "$win/rsp.txt" && \
       [ "$(tail -c 2 "$win/rsp.txt" | od -An -c | tr -d ' ')" = '\r\n' ]; then
      pass "$name: response file written, every line ending in CR LF"
    else
      fail "$name: response file written, every line ending in CR LF"
    fi
    same_bytes "$name: response file" "$lin/rsp.txt" "$win/rsp.txt"
    if [ -n "${OLD_RESPONSE-}" ]; then
      if ! printf '%s' "$OLD_RESPONSE" | cmp -s - "$win/rsp.txt"; then
        pass "$name: the old response file replaced"
      else
        fail "$name: the old response file replaced"
      fi
    fi
  else
    if [ -z "$(find "$lin" "$win" -name rsp.txt)" ]; then
      pass "$name: no response file"
    else
      fail "$name: no response file"
    fi
  fi
  leftovers "$lin/$TEMP_NAME" >"$lin/left.txt"
  leftovers "$win_temp_unix" >"$win/left.txt"
  same_bytes "$name: work files left ($(grep -c '^\./' "$win/left.txt") on each side)" \
    "$lin/left.txt" "$win/left.txt"
  echo "     ($((SECONDS - case_started)) s)"
}

# Sets the Windows version that Wine reports ($1, a winecfg -v name, written
# where winecfg -v writes it, which is much faster than starting winecfg), checks
# that Wine reports it ($3, as `ver` prints its numbers), and sets the one the
# Linux build simulates ($2, a QARVIK_WINVER name).
use_version() {
  wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$1" /f >>"$work/wineboot.log" 2>&1
  LINUX_WINVER=$2
  echo "== $1 (QARVIK_WINVER=$2): runs compared with the Linux build"
  local reported
  reported=$(wine cmd /c ver 2>/dev/null | tr -d '\r')
  if [[ "$reported" == *" $3"* ]]; then
    pass "$1: Wine reports Windows $3"
  else
    fail "$1: Wine reports Windows $3 (got: $(echo $reported))"
  fi
}

TEMP_NAME=tmp
WIN_TEMP_PREFIX_NOW="$win_temp\\"
# English unless a case says otherwise: Wine's C locale gives code page 437.
WINE_LOCALE=C
LINUX_CODEPAGE=437
versions_started=$SECONDS
# Each version: the winecfg name, the QARVIK_WINVER name, the numbers Wine reports.
for version in "win95 95 4.0.67109814" "win98 98 4.10.67766446" "winme me 4.90.73010104" \
               "nt40 nt4 4.0.1381" "win2k 2000 5.0.2195" "winxp xp 5.1.2600" \
               "win2003 2003 5.2.3790" "nt351 3.51.1057 3.51.1057"; do
  read -r wine_name linux_name numbers <<<"$version"
  use_version "$wine_name" "$linux_name" "$numbers"
  check_case "$wine_name-tcpip" rsp /n10.20.30.0 /m255.255.255.248 /orsp.txt
  check_case "$wine_name-netbeui" rsp /cN /orsp.txt
done
echo "   16 runs compared in $((SECONDS - versions_started)) s"

# NT 3.51 has no adapter tool, so the final "del" of the adapter work files
# names them: they were to be in the run's private folder inside the temp
# folder, which the leftover checks above found removed.
if grep -aqE 'Could Not Find .*\\qarvik-[0-9a-f]+-[0-9]+\\tmp00\.txt' "$work/windows/nt351-tcpip/err.read"; then
  pass "nt351-tcpip: work files in the run's private folder qarvik-<pid>-<n>"
else
  fail "nt351-tcpip: work files in the run's private folder qarvik-<pid>-<n>"
fi

# From Vista on the tools print in the console's language: each version once in
# English and once in Japanese. Wine 8.0 gives its win7 the product type of a
# server and its win2008r2 that of a workstation, so those two compare with the
# Linux build as the product that Wine reports. Wine reports 8.1 and 10 to
# Qarvik.exe only because its manifest declares them (6.2 otherwise).
modern_started=$SECONDS
for version in "vista vista 6.0.6002" "win2008 2008 6.0.6002" "win7 2008r2 6.1.7601" \
               "win2008r2 7 6.1.7601" "win8 8 6.2.9200" "win81 8.1 6.3.9600" \
               "win10 10 10.0."; do
  read -r wine_name linux_name numbers <<<"$version"
  use_version "$wine_name" "$linux_name" "$numbers"
  for language in "en C 437" "ja $japanese_locale 932"; do
    read -r language_name WINE_LOCALE LINUX_CODEPAGE <<<"$language"
    check_case "$wine_name-$language_name-tcpip" rsp /n10.20.30.0 /m255.255.255.248 /orsp.txt
  done
done
WINE_LOCALE=C
LINUX_CODEPAGE=437
echo "   14 runs from Vista on compared in $((SECONDS - modern_started)) s"

use_version winxp xp 5.1.2600
check_case usage none '/?'
check_case wrong-option none /x
check_case unwritable-response-file none /n10.20.30.0 /m255.255.255.252 /onodir/rsp.txt
# An existing response file is moved aside, replaced and deleted.
OLD_RESPONSE=$'LAST,10.20.30.9,00-0c-29-00-00-09\r\n' \
  check_case replace-response-file rsp /n10.20.30.0 /m255.255.255.252 /orsp.txt
# No host address to sweep: the own rows are written.
check_case mask-without-hosts rsp /n10.20.30.0 /m255.255.255.255 /orsp.txt
# Hosts in flight at once: the same console and response file as one by one.
check_case parallel-tcpip rsp /n10.20.30.0 /m255.255.255.248 /p4 /orsp.txt
check_case parallel-netbeui rsp /cN /p3 /orsp.txt
# More than 64 commands at once (the Windows build waits in groups): silent
# addresses keep their pings 5 s while hosts far up the /25 start.
saved=("$network" "$network_win") network="$work/wide.txt"
{ echo "timing 1"; cat "${saved[0]}"; echo "host 10.20.30.100 00-0C-29-00-00-64 FAR-PC up"
  echo "host 10.20.30.126 00-0C-29-00-00-7E - arp-only"; } >"$network"
network_win=$(winepath -w "$network" 2>/dev/null)
check_case parallel-wide-tcpip rsp /n10.20.30.0 /m255.255.255.128 /w5000 /p126 /orsp.txt
network=${saved[0]} network_win=${saved[1]}

# Work files in a temp folder whose path holds a blank: every command line that
# names one must quote it for cmd.exe.
TEMP_NAME="work files"
wine reg add 'HKCU\Environment' /v TEMP /t REG_SZ /d "$win_temp\\work files" /f >/dev/null 2>&1
wine reg add 'HKCU\Environment' /v TMP /t REG_SZ /d "$win_temp\\work files" /f >/dev/null 2>&1
mkdir -p "$win_temp_unix/work files"
blank_temp=$(wine cmd /c 'echo %TEMP%' 2>/dev/null | tr -d '\r\n')
if [ "$blank_temp" = "$win_temp\\work files" ]; then
  WIN_TEMP_PREFIX_NOW="$blank_temp\\"
  win_temp_unix="$win_temp_unix/work files"
  win_temp=$blank_temp
  check_case temp-folder-with-blank rsp /n10.20.30.0 /m255.255.255.252 /orsp.txt
else
  fail "temp folder with a blank could not be set (TEMP is $blank_temp)"
fi

# The response file's replacement step by step (one step where the system has
# it; moved aside and in for a read-only file, a leftover .old that blocks
# nothing, a failed move in that puts the old file back) and the removal of a
# killed run's work folder, called directly.
steps_dir="$work/steps"
mkdir -p "$steps_dir"
steps=$(wine "$win_dir/replace_steps.exe" "$(winepath -w "$steps_dir" 2>/dev/null)" 2>/dev/null | tr -d '\r')
[ -n "$steps" ] || fail "replace steps: replace_steps.exe printed nothing"
while IFS= read -r line; do
  case $line in
    "ok   "*) pass "replace steps: ${line#ok   }" ;;
    *) fail "replace steps: ${line#FAIL }" ;;
  esac
done <<<"$steps"

echo "== $((SECONDS - started)) s in all"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
