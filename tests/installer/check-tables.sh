#!/usr/bin/env bash
# What Wine's msiexec does not apply or show, read from the package's
# tables with msiinfo: the permissions of the status record's key
# (LockPermissions: administrators full control, the Users group read and
# set value), the key's component being permanent and in the package's
# registry view, and the message of the refusal of an older package.
# Skipped (exit 77) without the package.
#   usage: check-tables.sh win32|win64 MSI
set -uo pipefail
tree=$1 msi=$2
[ -f "$msi" ] || { echo "no $msi: run make dist first (make test does)"; exit 77; }
command -v msiinfo >/dev/null || { echo "msiinfo is missing (scripts/setup.sh installs msitools)"; exit 1; }

status=0
rows() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4 | grep -a "${2:-}" | sort; }
expect_rows() {  # TABLE PATTERN EXPECTED_ROWS (tab-separated, sorted)
  local got
  got=$(rows "$1" "$2")
  [ "$got" = "$3" ] || { printf 'FAILED: %s rows:\n%s\nexpected:\n%s\n' "$1" "$got" "$3"; status=1; }
}

attributes=16  # permanent
[ "$tree" = win64 ] && attributes=272  # permanent, 64-bit
expect_rows LockPermissions '' $'RecordKey\tRegistry\t\tAdministrators\t983103\nRecordKey\tRegistry\t\t[USERS_GROUP]\t131099'
expect_rows Property '^USERS_GROUP' $'USERS_GROUP\tUsers'
got=$(rows Component '^RecordKey' | cut -f4)
[ "$got" = "$attributes" ] || { echo "FAILED: RecordKey component attributes $got, expected $attributes"; status=1; }
expect_rows LaunchCondition '' \
  $'NOT WIX_DOWNGRADE_DETECTED\tA newer version of [ProductName] is already installed. Remove it first to install this version.'
[ $status -eq 0 ] && echo "the $tree package's tables hold the record key's permissions"
exit $status
