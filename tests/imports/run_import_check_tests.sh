#!/usr/bin/env bash
# Shows that the import check of the 32-bit Windows build holds and can fail:
#   - the built Qarvik.exe passes it;
#   - with one function the program imports taken off the list, it fails and
#     names that function;
#   - a program importing a function the old systems lack, and a function of a
#     library outside the list, fails it and names both.
#
#   tests/imports/run_import_check_tests.sh BUILD_WIN_DIR
#
# BUILD_WIN_DIR is a 32-bit Windows build; the probe program is built with the
# same compiler. Ends with "N passed, M failed".
set -uo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_WIN_DIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
check="$source_dir/cmake/check_win32_imports.sh"
list="$source_dir/cmake/win32-imports.txt"
win_dir=$(cd "$1" && pwd) || exit 2
program="$win_dir/Qarvik.exe"
compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' \
           "$win_dir"/CMakeFiles/*/CMakeCXXCompiler.cmake 2>/dev/null | head -n 1)
[ -f "$program" ] || { echo "missing: $program" >&2; exit 2; }
[ -n "$compiler" ] || { echo "no C++ compiler recorded in $win_dir/CMakeFiles" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qarvik-imports.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; sed 's/^/     /' "$work/out.txt"; }

# expect NAME STATUS TEXT... : the check's exit status is STATUS and its output
# holds every TEXT; the check's arguments follow "--".
expect() {
  local name=$1 status=$2; shift 2
  local wanted=()
  while [ "$1" != -- ]; do wanted+=("$1"); shift; done
  shift
  "$check" "$@" >"$work/out.txt" 2>&1
  local got=$? text
  [ "$got" -eq "$status" ] || { fail "$name (exit status $got)"; return; }
  for text in "${wanted[@]}"; do
    grep -qF -- "$text" "$work/out.txt" || { fail "$name (no \"$text\")"; return; }
  done
  pass "$name"
}

expect "Qarvik.exe imports only listed functions" 0 "all" -- "$program" "$list"

grep -vx GetVersionExA "$list" >"$work/short-list.txt"
expect "a function taken off the list is refused" 1 "KERNEL32.DLL GetVersionExA" -- \
  "$program" "$work/short-list.txt"

if "$compiler" -O2 -o "$work/outside_list.exe" "$here/outside_list.cpp" -luser32 \
     >"$work/out.txt" 2>&1; then
  expect "a newer function and another library are refused" 1 \
    "KERNEL32.DLL GetTickCount64" "USER32.DLL MessageBoxA" -- "$work/outside_list.exe" "$list"
else
  fail "the probe program builds"
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
