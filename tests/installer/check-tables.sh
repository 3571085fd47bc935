#!/usr/bin/env bash
# What Wine's msiexec does not apply, read from the package's tables with
# msiinfo: the permissions of the status record's key (LockPermissions:
# administrators full control, the Users group read and set value, on the
# Registry row that creates the key), the key's component being permanent
# and in the package's registry view, the refusal of an older package
# (whose message Wine does not log), the package's platform, and the
# public properties passed on in managed installs. Skipped (exit 77)
# without the package.
#   usage: check-tables.sh win32|win64 MSI
set -uo pipefail
tree=$1 msi=$2
[ -f "$msi" ] || { echo "no $msi: run make dist first (make test does)"; exit 77; }
command -v msiinfo >/dev/null || { echo "msiinfo is missing (scripts/setup.sh installs msitools)"; exit 1; }

status=0
fail() { echo "FAILED: $*"; status=1; }
rows() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
expect_rows() {  # TABLE EXPECTED_ROWS (tab-separated, sorted)
  local got
  got=$(rows "$1" | grep -a "${3:-}" | sort)
  [ "$got" = "$2" ] || fail "$1 rows:"$'\n'"$got"$'\n'"expected:"$'\n'"$2"
}

if [ "$tree" = win32 ]; then attributes=16 platform=Intel; else attributes=272 platform=x64; fi
expect_rows LockPermissions $'RecordKey\tRegistry\t\tAdministrators\t983103\nRecordKey\tRegistry\t\t[USERS_GROUP]\t131099'
expect_rows Registry $'RecordKey\t2\tSOFTWARE\\ORV\\KTRMonitor-msg\\1\t+\t\tRecordKey' '^RecordKey'
got=$(rows Component | awk -F'\t' '$1 == "RecordKey" { print $4 }')
[ "$got" = "$attributes" ] || fail "RecordKey component attributes $got, expected $attributes (permanent, the build's view)"
expect_rows Property $'USERS_GROUP\tUsers' '^USERS_GROUP'
got=$(rows Property | awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }')
for property in AUTOSTART USERS_GROUP; do
  [[ ";$got;" == *";$property;"* ]] || fail "$property is not among the SecureCustomProperties: $got"
done
expect_rows LaunchCondition \
  $'NOT WIX_DOWNGRADE_DETECTED\tA newer version of [ProductName] is already installed. Remove it first to install this version.'
got=$(msiinfo suminfo "$msi" | sed -n 's/^Template: //p')
[ "$got" = "$platform;1033" ] || fail "platform $got, expected $platform;1033"
[ $status -eq 0 ] && echo "the $tree package's tables hold the record key's permissions"
exit $status
