#!/usr/bin/env bash
# A deliverable imports only the platform's own DLLs (the C and C++
# runtimes are linked in statically); a "gui" program also has the
# Windows GUI subsystem.   usage: check-imports.sh OBJDUMP FILE dll|gui|console
set -euo pipefail
export LC_ALL=C  # the tools' output is parsed in English
objdump=$1 file=$2 kind=$3

allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ws2_32|wsock32|iphlpapi|setupapi|winspool\.drv|comctl32|msvcrt|ntdll)(\.dll)?$'

dump=$("$objdump" -p "$file")
status=0
while read -r name; do
  lower=$(tr 'A-Z' 'a-z' <<<"$name")
  if [[ ! $lower =~ $allowed ]]; then
    echo "not a platform DLL: $name"
    status=1
  else
    echo "imports $name"
  fi
done < <(awk '/DLL Name:/ {print $3}' <<<"$dump")

subsystem=$(awk '/^Subsystem/ {print $2}' <<<"$dump")
case $kind in
  gui)     want=00000002 ;;
  console) want=00000003 ;;
  dll)     want= ;;
esac
if [ -n "$want" ] && [ "$subsystem" != "$want" ]; then
  echo "subsystem is $subsystem, expected $want ($kind)"
  status=1
fi
exit $status
