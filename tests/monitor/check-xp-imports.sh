#!/usr/bin/env bash
# The status monitor runs from Windows XP: every platform function that
# its code calls must be one XP has. Lists the functions that the static
# library imports and fails on any not in the list of XP functions below
# (add a function there only after checking that XP exports it).
# usage: check-xp-imports.sh NM LIBRARY
set -euo pipefail
nm=$1 library=$2
xp_functions="
CloseHandle CreateMutexA EnableWindow GetDlgItem GetDlgItemTextA IsDBCSLeadByte
LoadIconA LocalAlloc LocalFree LocalReAlloc LocalSize RegCloseKey RegCreateKeyExA
RegDeleteValueA RegOpenKeyExA RegQueryValueExA RegSetValueExA ReleaseMutex
SendDlgItemMessageA SetDlgItemTextA SetWindowTextA WaitForSingleObject
"
imports=$("$nm" -u "$library" | sed -n 's/.*__imp__\{0,1\}\([A-Za-z0-9_]*\).*/\1/p' | sort -u)
[ -n "$imports" ] || { echo "no imports found in $library"; exit 1; }
status=0
for name in $imports; do
  if ! grep -qw -- "$name" <<<"$xp_functions"; then
    echo "not an XP function (or not yet checked): $name"
    status=1
  fi
done
echo "$(wc -w <<<"$imports") imported functions checked"
exit $status
