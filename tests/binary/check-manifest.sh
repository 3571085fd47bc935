#!/usr/bin/env bash
# A program carries its application manifest (resource type 24, id 1),
# read back from the file: it runs as the invoker without UI access,
# names Windows Vista to 10 as supported, writes trustInfo in the asm.v2
# namespace (XP before Service Pack 3 mishandles the v3 one), declares
# system DPI awareness in an asm.v3 application element (which XP skips)
# and depends on no side-by-side assembly (no Common Controls 6).
#   usage: check-manifest.sh LLVM_READOBJ PROGRAM
set -uo pipefail
readobj=$1 program=$2

source "$(dirname "${BASH_SOURCE[0]}")/resource-hex.sh"
manifest=$(resource_hex "$readobj" "$program" 24 1 | perl -e 'local $/; print pack("H*", <STDIN>)')

if [ -z "$manifest" ]; then
  echo "no manifest resource (type 24, id 1) in $program"
  exit 1
fi
printf '%s\n' "$manifest"

status=0
flat=$(tr -s ' \r\n\t' ' ' <<<"$manifest")
expect() {  # what, extended regular expression
  grep -Eq "$2" <<<"$flat" || { echo "missing: $1"; status=1; }
}
refuse() {
  ! grep -Eq "$2" <<<"$flat" || { echo "present: $1"; status=1; }
}
expect "asm.v1 assembly" '^<\?xml [^>]*\?> ?<assembly xmlns="urn:schemas-microsoft-com:asm\.v1" manifestVersion="1\.0">'
expect "assemblyIdentity" '<assemblyIdentity type="win32" name="[^"]+" version="[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+"/>'
expect "trustInfo in asm.v2" '<trustInfo xmlns="urn:schemas-microsoft-com:asm\.v2"> ?<security> ?<requestedPrivileges> ?<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'
refuse "trustInfo in the asm.v3 namespace" '<trustInfo xmlns="urn:schemas-microsoft-com:asm\.v3"'
expect "system DPI awareness" '<application xmlns="urn:schemas-microsoft-com:asm\.v3"> ?<windowsSettings> ?<dpiAware xmlns="http://schemas\.microsoft\.com/SMI/2005/WindowsSettings">true</dpiAware> ?</windowsSettings> ?</application>'
refuse "a dependency" '<dependency'
for os in "Vista e2011457-1546-43c5-a5fe-008deee3d3f0" "7 35138b9a-5d96-4fbd-8e2d-a2440225f93a" \
          "8 4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38" "8.1 1f676c76-80e1-4239-95bb-83d0f6d0da78" \
          "10 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"; do
  expect "supportedOS Windows ${os% *}" "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility\.v1\"> ?<application>.*<supportedOS Id=\"\{${os#* }\}\"/>.*</application>"
done
expect "the end of the assembly" '</assembly> ?$'
exit $status
