#!/usr/bin/env bash
# The 32-bit archive of make dist works as handed over: unpacked into a
# fresh folder, it holds the files its README.txt (CR LF lines) lists and
# no others, and its orvctl.exe starts the orvcomms.dll beside it
# ("orvctl info" under Wine). Skipped, with a message, when make dist has
# not written the archive since the DLL was last built.
#   usage: check-archive.sh ARCHIVE BUILT_DLL
set -uo pipefail
archive=$(realpath -m "$1") built_dll=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
skip=77

if [ ! -f "$archive" ]; then
  echo "no $archive: run make dist first (make test does)"
  exit $skip
fi
if [ "$archive" -ot "$built_dll" ]; then
  echo "$archive is older than the build's orvcomms.dll: run make dist"
  exit $skip
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
(cd "$dir" && cmake -E tar xf "$archive") || { echo "cannot unpack $archive"; exit 1; }

status=0
if grep -qv $'\r$' "$dir/README.txt"; then
  echo "README.txt has lines without CR LF"
  status=1
fi
listed=$(sed -n 's/^\([A-Za-z0-9_.]*\.[a-z]*\|[a-z]*\/\)  .*/\1/p' "$dir/README.txt" | sort)
present=$(ls -p "$dir" | sort)
if [ "$listed" != "$present" ]; then
  echo "the archive's files differ from those README.txt lists (< listed, > present):"
  diff <(echo "$listed") <(echo "$present")
  status=1
fi

output=$(cd "$dir" && ORV_WINE_TIMEOUT=60 "$root/scripts/wine-run" orvctl.exe info 2>&1 | tr -d '\r')
echo "$output"
grep -qx 'OvStartup: 1 (Windows Sockets 1.1)' <<<"$output" || { echo "OvStartup failed"; status=1; }
exit $status
