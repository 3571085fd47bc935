#!/usr/bin/env bash
# The MSI package of one build as an administrator uses it: installed,
# run, upgraded and removed by Wine's msiexec (/qn, as a silent
# deployment runs it), in a Wine prefix of its own copied from the test
# prefix, which must be up (scripts/wine-env.sh start).
#
#   1. ADDLOCAL=ALL AUTOSTART=0: every file, the developer files in sdk\,
#      no log-on start, the record key in the package's registry view.
#   2. Removal: the files go, the record key stays.
#   3. The default install: the monitor and the library with orvctl.exe,
#      no developer files, the Run value and the record key in the
#      package's view and not in the other, the Start-menu shortcut, the
#      Add and Remove Programs entry.
#   4. The installed orvstsn.exe starts in global mode with a supported
#      printer in the spooler (lm-sim and monitor-ctl of the same build
#      play the language monitor and the user): it waits in the tray and
#      shows its window at paper out (302) written into the record.
#   5. Upgrade: the package built again with the next version, from files
#      whose version resource says so, replaces the first: one product,
#      the new version, the new files.
#   6. The older package then refuses, having found the newer product.
#   7. Removal of the upgrade by its product code: files, shortcut, Run
#      value and entry gone; the record key is still there.
#
# Skipped (exit 77) when make dist has not written the package since the
# monitor was last built.
#   usage: check-msi.sh win32|win64 VERSION MSI BUILT_MONITOR BIN_DIR
set -uo pipefail
tree=$1 version=$2 msi=$(realpath -m "$3") built_monitor=$4 bin=$(realpath "$5")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ -f "$msi" ] || { echo "no $msi: run make dist first (make test does)"; exit 77; }
[ "$msi" -nt "$built_monitor" ] || { echo "$msi is older than the build's orvstsn.exe: run make dist"; exit 77; }

template=$(source "$root/scripts/wine-common.sh" && echo "$WINEPREFIX")
if [ ! -f "$template/.orv-ready" ]; then
  echo "no test prefix at $template: run scripts/wine-env.sh start"
  exit 1
fi
work=$(dirname "$bin")/installer-test
export ORV_WINEPREFIX=$work/wine
source "$root/scripts/wine-common.sh"
log=$work/wine-prefix.log
case $tree in
  win32) view=32 other=64 folder='C:\Program Files (x86)\ORV' ;;
  *)     view=64 other=32 folder='C:\Program Files\ORV' ;;
esac
unix_folder=$WINEPREFIX/drive_c/${folder#C:\\}
unix_folder=${unix_folder//\\//}

status=0
fail() { echo "FAILED: $*"; status=1; }
step() { printf '\n== %s\n' "$*"; }
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
wine() { ORV_WINE_TIMEOUT=${limit:-60} "$root/scripts/wine-run" "$@" </dev/null 2>>"$log" | tr -d '\r' | iconv -f CP932 -t UTF-8; }

cleanup() {
  "$root/scripts/wine-env.sh" stop >/dev/null 2>&1
  rm -rf "$WINEPREFIX" "$work/packages"
}
trap cleanup EXIT
mkdir -p "$work/packages"
orv_copy_prefix "$template" "$WINEPREFIX" || { echo "cannot copy $template"; exit 1; }
"$root/scripts/wine-env.sh" start >>"$log" 2>&1 || { echo "the installer's prefix did not start (see $log)"; exit 1; }

# What the test prefix's own tests may have left in it.
for v in 32 64; do wine reg delete 'HKLM\Software\ORV' /f /reg:$v >/dev/null; done
wine reg delete 'HKCU\Software\ORV' /f >/dev/null
wine reg delete 'HKCU\Software\Wine\AppDefaults\orvstsn.exe' /f >/dev/null

msiexec() {  # msiexec ACTION MSI|{PRODUCT-CODE} LOG [PROPERTIES...]: its exit code
  local action=$1 target=$2 out=$3
  shift 3
  [[ $target == {* ]] || target=$(winpath "$target")
  limit=180 wine msiexec "$action" "$target" /qn /l*v "$(winpath "$out")" "$@" >/dev/null
  return "${PIPESTATUS[0]}"
}
# value VIEW KEY NAME: the data of a REG_SZ value, nothing when missing.
value() { wine reg query "$2" /v "$3" /reg:"$1" | sed -n "s/^    $3    REG_[A-Z_]*    //p"; }
has_key() { wine reg query "$2" /reg:"$1" >/dev/null; [ "${PIPESTATUS[0]}" -eq 0 ]; }
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
record_key='HKLM\Software\ORV\KTRMonitor-msg\1'
autostart_name='ORV status monitor'
product_name="ORV printer utility (${view}-bit)"
# The Add and Remove Programs entries of the package: "VERSION PUBLISHER" each.
entries() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:"$view" |
    awk -v name="$product_name" '
      /^HKEY_/ { flush(); shown = ""; ver = ""; pub = "" }
      $1 == "DisplayName" { sub(/^ *DisplayName +REG_SZ +/, ""); shown = $0 }
      $1 == "DisplayVersion" { ver = $3 }
      $1 == "Publisher" { pub = $3 }
      function flush() { if (shown == name) print ver, pub }
      END { flush() }'
}
# Where Windows Installer put the shortcut: the Start menu of all users
# on Windows; Wine resolves ProgramMenuFolder to the installing user's.
shortcuts() { find "$WINEPREFIX/drive_c" -path '*/Start Menu/Programs/ORV status monitor.lnk' 2>/dev/null; }
expect_record_key() {
  has_key "$view" "$record_key" || fail "no record key in the ${view}-bit view $1"
  ! has_key "$other" "$record_key" || fail "a record key in the ${other}-bit view $1"
}
expect_installed() {  # the files of the default features, as built
  local f
  for f in orvstsn.exe orvcomms.dll orvctl.exe; do
    cmp -s "$1/$f" "$unix_folder/$f" || fail "$folder\\$f is not the package's $f"
  done
}
expect_removed() {
  [ ! -e "$unix_folder" ] || fail "$folder is left after the removal: $(ls -R "$unix_folder" | tr '\n' ' ')"
  [ -z "$(shortcuts)" ] || fail "the shortcut is left: $(shortcuts)"
  [ -z "$(value "$view" "$run_key" "$autostart_name")" ] || fail "the Run value is left"
  expect_record_key "after the removal"
}

dist=$(dirname "$msi")/$tree
step "install with ADDLOCAL=ALL AUTOSTART=0"
msiexec /i "$msi" "$work/install-all.log" ADDLOCAL=ALL AUTOSTART=0 || fail "msiexec /i ADDLOCAL=ALL AUTOSTART=0: exit $?"
expect_installed "$dist"
for f in orvcomms.h orvcomms.lib orvcomms.dll.a orvcomms.def examples/print_file.c examples/Makefile; do
  cmp -s "$dist/$f" "$unix_folder/sdk/$f" || fail "no $f in $folder\\sdk"
done
for v in 32 64; do
  [ -z "$(value "$v" "$run_key" "$autostart_name")" ] || fail "AUTOSTART=0 wrote the Run value (${v}-bit view)"
done
expect_record_key "after the install"

step "remove it"
msiexec /x "$msi" "$work/remove-all.log" || fail "msiexec /x: exit $?"
expect_removed

step "install with the defaults"
msiexec /i "$msi" "$work/install.log" || fail "msiexec /i: exit $?"
expect_installed "$dist"
[ ! -e "$unix_folder/sdk" ] || fail "the developer files were installed by default"
got=$(value "$view" "$run_key" "$autostart_name")
[ "$got" = "\"$folder\\orvstsn.exe\"" ] || fail "Run value in the ${view}-bit view: '$got'"
[ -z "$(value "$other" "$run_key" "$autostart_name")" ] || fail "a Run value in the ${other}-bit view"
expect_record_key "after the install"
[ -n "$(shortcuts)" ] || fail "no Start-menu shortcut"
got=$(entries)
[ "$got" = "$version ORV" ] || fail "Add and Remove Programs: '$got', expected '$version ORV' once"

step "the installed orvstsn.exe in global mode, with a supported printer in the spooler"
printer='HKLM\System\CurrentControlSet\Control\Print\Printers\ORV orv2100'
add_setting() { wine reg add "$printer" /v "$1" /t "$2" /d "$3" /f >/dev/null; }
add_setting Name REG_SZ 'ORV orv2100'
add_setting Port REG_SZ 'LPT1:'
add_setting 'Printer Driver' REG_SZ 'ORV orv2100'
add_setting Attributes REG_DWORD 0x800  # bidirectional
add_setting Datatype REG_SZ RAW
add_setting 'Print Processor' REG_SZ winprint
wine reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows' /v Device /d 'ORV orv2100,winspool,LPT1:' /f >/dev/null
# Its output goes to the log, so that nothing holds the test's output
# should it hang; the prefix's stop at the end ends it in any case.
limit=120 wine "$folder\\orvstsn.exe" >/dev/null &
ctl() { wine "$bin/monitor-ctl.exe" "$@"; }
if ctl wait tray 30000 >/dev/null; then
  wine "$bin/lm-sim.exe" set ERR_CODE 302 >/dev/null
  ctl wait shown 10000 >/dev/null || fail "the monitor did not show its window at paper out (302)"
  state=$(ctl state)
  head -3 <<<"$state"
  grep -q '0302' <<<"$state" || fail "the window does not show the paper-out message"
  ctl close >/dev/null
  ctl wait gone 10000 >/dev/null || fail "the monitor did not end when its window was closed"
  # Local mode would have reset its run marker in HKLM at exit.
  [ -z "$(value "$view" 'HKLM\Software\ORV\KTRMonitor-Status' STS_RUN)" ] || fail "the monitor ran in local mode"
else
  fail "the installed monitor did not start into the tray (a message box of it may be open)"
fi

next=$(IFS=.; read -r -a n <<<"$version"; n[2]=$(( ${n[2]:-0} + 1 )); echo "${n[0]}.${n[1]:-0}.${n[2]}")
step "upgrade to $next"
# The same files, the monitor's version resource saying $next.
mkdir -p "$work/packages/files"
cp -r "$dist"/* "$work/packages/files/"
perl -e 'local $/; my ($version, $file) = @ARGV; my @n = split /\./, $version;
         open my $in, "<:raw", $file or die; my $b = <$in>; close $in;
         my $at = index($b, pack("V", 0xFEEF04BD)); die "no version resource\n" if $at < 0;
         my $v = pack("V2", ($n[0] << 16) | $n[1], ($n[2] << 16) | ($n[3] // 0));
         substr($b, $at + 8, 16) = $v . $v;  # file and product version
         open my $out, ">:raw", $file or die; print $out $b' "$next" "$work/packages/files/orvstsn.exe" ||
  fail "cannot set the version of the upgrade's orvstsn.exe"
newer=$work/packages/orv-utility-$next-$tree.msi
"$root/installer/build-msi.sh" "$next" "$tree" "$work/packages/files" "$newer" >/dev/null || fail "build-msi.sh $next"
newer_code=$(msiinfo export "$newer" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
msiexec /i "$newer" "$work/upgrade.log" || fail "msiexec /i (upgrade): exit $?"
got=$(entries)
[ "$got" = "$next ORV" ] || fail "after the upgrade, Add and Remove Programs: '$got', expected '$next ORV' once"
cmp -s "$work/packages/files/orvstsn.exe" "$unix_folder/orvstsn.exe" || fail "orvstsn.exe is not the $next one"
[ -n "$(value "$view" "$run_key" "$autostart_name")" ] || fail "no Run value after the upgrade"

step "the older package over the newer one"
# Windows logs the launch condition's message; Wine's log names the
# property that found the newer product.
msiexec /i "$msi" "$work/downgrade.log"
code=$?
echo "msiexec /i of the older package: exit $code"
[ $code -ne 0 ] || fail "the older package installed over the newer one"
tr -d '\0' <"$work/downgrade.log" | grep -a -q "WIX_DOWNGRADE_DETECTED = $newer_code" ||
  fail "the refusal did not come from finding the newer product ($work/downgrade.log)"
got=$(entries)
[ "$got" = "$next ORV" ] || fail "after the refused downgrade, Add and Remove Programs: '$got'"

step "remove the upgrade by its product code, as Add and Remove Programs does"
msiexec /x "$newer_code" "$work/remove.log" || fail "msiexec /x $newer_code: exit $?"
expect_removed
[ -z "$(entries)" ] || fail "Add and Remove Programs still lists: $(entries)"

echo
[ $status -eq 0 ] && echo "the $tree package installs, runs, upgrades and is removed as expected"
exit $status
