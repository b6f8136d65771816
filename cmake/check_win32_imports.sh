#!/usr/bin/env bash
# Checks that a Windows program imports nothing but the functions of a list:
# every imported library must be one of the list's, and every function it
# imports must be listed under that library (an import by ordinal never is).
#
#   cmake/check_win32_imports.sh PROGRAM.exe [LIST]
#
# LIST defaults to cmake/win32-imports.txt beside this script. The import table
# is read with objdump -p (OBJDUMP names another objdump). Prints every import
# that is not allowed and exits 1 when there is one, or when the table cannot
# be read or holds no import at all; exits 0 and prints a count otherwise.
set -uo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 PROGRAM.exe [LIST]" >&2
  exit 2
fi
program=$1
list=${2:-$(dirname "$0")/win32-imports.txt}
objdump=${OBJDUMP:-objdump}
[ -f "$program" ] || { echo "missing: $program" >&2; exit 2; }
[ -f "$list" ] || { echo "missing: $list" >&2; exit 2; }

# One "LIBRARY FUNCTION" line per allowed function, the library in capitals.
allowed=$(awk '
  /^[ \t]*(#|$)/ { next }
  /^\[.*\]$/     { library = toupper(substr($0, 2, length($0) - 2)); next }
  library != ""  { print library, $1 }' "$list") || exit 2

# One "LIBRARY FUNCTION" line per import; "LIBRARY #ordinal" for one by ordinal.
table=$("$objdump" -p "$program") || { echo "cannot read: $program" >&2; exit 1; }
imports=$(printf '%s\n' "$table" | awk '
  /^The Import Tables/                  { in_table = 1; next }
  in_table && /^[A-Z]/                  { in_table = 0 }
  !in_table                             { next }
  /^[ \t]*DLL Name:/                    { library = toupper($3); next }
  /^[ \t]*vma:/                         { next }
  library != "" && /^\t[0-9a-f]+\t/ {
    if (NF >= 3) print library, $3
    else if (NF == 2) print library, "#" $2
  }')

if [ -z "$imports" ]; then
  echo "no imports found in $program: the import table could not be read" >&2
  exit 1
fi
outside=$(comm -23 <(printf '%s\n' "$imports" | LC_ALL=C sort -u) \
                   <(printf '%s\n' "$allowed" | LC_ALL=C sort -u))
count=$(printf '%s\n' "$imports" | wc -l)
if [ -n "$outside" ]; then
  echo "$program imports what $list does not allow:"
  printf '%s\n' "$outside" | sed 's/^/  /'
  exit 1
fi
echo "$program: all $count imports are in $list"
