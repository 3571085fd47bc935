#!/usr/bin/env bash
# The export table of orvcomms.dll holds exactly the functions of the
# export list, each under its plain name (no stdcall "@n" decoration) and
# its ordinal.   usage: check-exports.sh OBJDUMP DLL EXPORTS_TXT
set -euo pipefail
export LC_ALL=C  # the tools' output is parsed in English
objdump=$1 dll=$2 list=$3

expected=$(grep -E '^[0-9]' "$list" | awk '{print $1, $2}' | sort -n)
actual=$("$objdump" -p "$dll" | awk '
  /^Ordinal Base/            { base = $3 }
  /^\[Ordinal\/Name Pointer\] Table/ { in_names = 1; next }
  in_names && /^$/           { in_names = 0 }
  in_names {
    gsub(/[][]/, " ")
    print $1 + base, $2
  }' | sort -n)

if [ "$expected" != "$actual" ]; then
  echo "export table of $dll differs from $list"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
if grep -q '@' <<<"$actual"; then
  echo "decorated names in $dll"
  exit 1
fi
echo "$(wc -l <<<"$actual") exports match"
