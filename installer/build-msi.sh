#!/usr/bin/env bash
# Writes the MSI package of one build from installer/orv-utility.wxs:
# wixl (Debian's wixl) compiles the WiX source, and msibuild (msitools)
# then adds what wixl 0.101 cannot express:
#   - the status record's key, HKLM\SOFTWARE\ORV\KTRMonitor-msg\1, as a
#     Registry row that creates the key (name "+") in a permanent component,
#     so that the removal leaves it to the language monitor and the
#     printer's driver package, which share it;
#   - the key's LockPermissions rows (wixl has no Permission element);
#   - the condition AUTOSTART <> "0" of the log-on start, and AUTOSTART and
#     USERS_GROUP among the secure properties (passed on in managed
#     installs);
#   - the version of each program file (the project's version, which
#     their version resources carry), so that Windows Installer's file
#     rules compare versions.
#
#   usage: build-msi.sh VERSION win32|win64 FILES_DIR OUTPUT.msi
#
# The product code is made from the version and the build (a name-based
# GUID, RFC 4122 version 5): each version gets a new one, and the same
# version built again gets the same one, so a second install of one
# version is a repair and never a second product.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

[ $# -eq 4 ] || { echo "usage: $0 VERSION win32|win64 FILES_DIR OUTPUT.msi" >&2; exit 2; }
version=$1 tree=$2 files=$3 output=$4
case $tree in
  win32) arch=x86 ;;
  win64) arch=x64 ;;
  *) echo "build-msi: unknown build $tree (win32 or win64)" >&2; exit 2 ;;
esac
for tool in wixl msibuild msiinfo; do
  command -v "$tool" >/dev/null || { echo "build-msi: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[[ $version =~ ^[0-9]+(\.[0-9]+){0,3}$ ]] || { echo "build-msi: bad version $version" >&2; exit 2; }

# The namespace of the product codes: a fixed GUID of this project.
product_namespace=9d0e6f0a-58c1-4b7e-8a4f-3f1c2e7b5a90

# name_guid NAMESPACE NAME: the version 5 GUID of NAME, in upper case.
name_guid() {
  local hash
  hash=$({ printf "$(echo "${1//-/}" | sed 's/../\\x&/g')"; printf '%s' "$2"; } | sha1sum)
  local variant=$(( (0x${hash:16:1} & 0x3) | 0x8 ))
  hash=${hash:0:12}5${hash:13:3}$(printf '%x' $variant)${hash:17:15}
  echo "${hash:0:8}-${hash:8:4}-${hash:12:4}-${hash:16:4}-${hash:20:12}" | tr a-f A-F
}

# The four numbers of the version, missing ones 0, as the files carry it.
IFS=. read -r -a numbers <<<"$version"
while [ ${#numbers[@]} -lt 4 ]; do numbers+=(0); done
file_version=$(IFS=.; echo "${numbers[*]}")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
msi=$work/package.msi

# wixl 0.101 finds a source file only by a path relative to the folder it
# runs in.
(cd "$files" &&
 wixl -a "$arch" -D Arch="$arch" -D Version="$version" -D Files=. \
      -D ProductCode="$(name_guid "$product_namespace" "orv-utility/$tree/$version")" \
      -o "$msi" "$here/orv-utility.wxs")

# Root 2 is HKEY_LOCAL_MACHINE. The record key's component is permanent
# (attribute 16).
sql=(
  "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`)
     VALUES ('RecordKey', 2, 'SOFTWARE\\ORV\\KTRMonitor-msg\\1', '+', 'RecordKey')"
  "UPDATE \`Component\` SET \`Attributes\` = 16 WHERE \`Component\` = 'RecordKey'"
  "UPDATE \`Component\` SET \`Condition\` = 'AUTOSTART <> \"0\"' WHERE \`Component\` = 'AutoStart'"
  "UPDATE \`Property\` SET \`Value\` = 'AUTOSTART;USERS_GROUP;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED'
     WHERE \`Property\` = 'SecureCustomProperties'"
)
for file in orvstsn.exe orvcomms.dll orvctl.exe; do
  sql+=("UPDATE \`File\` SET \`Version\` = '$file_version' WHERE \`File\` = '$file'")
done
for query in "${sql[@]}"; do
  msibuild "$msi" -q "$query"
done
# wixl 0.101 marks no component as 64-bit, not even with -a x64: without
# the mark (attribute 256) Windows Installer writes a 64-bit package's
# registry values into the 32-bit view, where the 64-bit monitor does not
# look. Every component of the 64-bit package gets it here.
if [ "$arch" = x64 ]; then
  msiinfo export "$msi" Component | tr -d '\r' | tail -n +4 |
    while IFS=$'\t' read -r component _ _ attributes _; do
      msibuild "$msi" -q "UPDATE \`Component\` SET \`Attributes\` = $((attributes | 256))
                          WHERE \`Component\` = '$component'"
    done
fi

# The record key's permissions. The language monitor (in the spooler, as
# LocalSystem, which Windows Installer grants full control of every object
# it secures) and administrators keep full control (983103 = KEY_ALL_ACCESS);
# users get what the monitor asks for in its global mode, read and set
# value (131099 = 0x2001B, KEY_READ | KEY_SET_VALUE). The rows replace
# the key's permissions, hence the administrators' row.
printf '%s\r\n' \
  $'LockObject\tTable\tDomain\tUser\tPermission' \
  $'s72\ts32\tS255\ts255\tI4' \
  $'LockPermissions\tLockObject\tTable\tDomain\tUser' \
  $'RecordKey\tRegistry\t\tAdministrators\t983103' \
  $'RecordKey\tRegistry\t\t[USERS_GROUP]\t131099' \
  >"$work/LockPermissions.idt"
msibuild "$msi" -i "$work/LockPermissions.idt"

mkdir -p "$(dirname "$output")"
mv -f "$msi" "$output"
echo "build-msi: $output ($tree, version $version)"
