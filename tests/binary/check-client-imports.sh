#!/usr/bin/env bash
# A program linked through an import library imports the plain export
# names from orvcomms.dll.   usage: check-client-imports.sh OBJDUMP EXE
set -euo pipefail
export LC_ALL=C  # the tools' output is parsed in English
objdump=$1 exe=$2
names=$("$objdump" -p "$exe" | awk '
  /DLL Name:/ { in_dll = (tolower($3) == "orvcomms.dll"); next }
  in_dll && /^\t[ 0-9a-f]+\t/ { print $NF }')
for want in OvStartup OvGetError OvCleanup; do
  if ! grep -qx "$want" <<<"$names"; then
    echo "$exe does not import $want from orvcomms.dll; it imports: $names"
    exit 1
  fi
done
echo "imports from orvcomms.dll:" $names
