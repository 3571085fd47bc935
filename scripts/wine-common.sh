# Shared settings of the project's Wine runs (sourced).
orv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${ORV_WINEPREFIX:-$orv_root/build/wine}
export WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver
export WINEDEBUG=${WINEDEBUG:--all}
# Code page 932: the monitor's texts are Shift-JIS.
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
# The null graphics driver of the prefix needs no display.
unset DISPLAY
# Where QEMU's user-mode emulator runs 32-bit programs (scripts/setup.sh),
# 32-bit Wine preloads scripts/qemu/wine-segments.c.
orv_qemu_preload_dir=$(dirname "$WINEPREFIX")/qemu-preload
orv_binfmt=/proc/sys/fs/binfmt_misc
# The emulator's registration is used only while it, and binfmt_misc as a
# whole, are enabled: a registration that exists but was disabled
# ("echo 0 > .../qemu-i386") runs nothing.
orv_qemu_runs_32bit() {
  grep -qx enabled "$orv_binfmt/qemu-i386" 2>/dev/null && grep -qx enabled "$orv_binfmt/status" 2>/dev/null
}
if orv_qemu_runs_32bit &&
   [ -f "$orv_qemu_preload_dir/lib/i386-linux-gnu/orv-wine-segments.so" ]; then
  export QEMU_SET_ENV="LD_PRELOAD=$orv_qemu_preload_dir/\$LIB/orv-wine-segments.so"
fi
# Builds the preload where it is needed; before any Wine start of a run.
orv_prepare_qemu() {
  orv_qemu_runs_32bit || return 0
  "$orv_root/scripts/qemu/build-preload.sh" "$orv_qemu_preload_dir" >/dev/null
  export QEMU_SET_ENV="LD_PRELOAD=$orv_qemu_preload_dir/\$LIB/orv-wine-segments.so"
}
# 32-bit Windows programs run here when 32-bit Wine's own loader does.
# ORV_PROBE_32BIT replaces the probe with a command of the caller's (the
# test of the run's rules makes it fail).
orv_runs_32bit() {
  if [ -n "${ORV_PROBE_32BIT:-}" ]; then
    bash -c "$ORV_PROBE_32BIT" >/dev/null 2>&1
  else
    /usr/lib/wine/wine --version >/dev/null 2>&1
  fi
}
# Why 32-bit programs do not run, in a few words, for the run's message.
orv_32bit_cause() {
  if [ -n "${ORV_PROBE_32BIT:-}" ]; then
    echo "the probe ORV_PROBE_32BIT='$ORV_PROBE_32BIT' failed"
  elif [ ! -x /usr/lib/wine/wine ]; then
    echo "32-bit Wine (wine32:i386) is not installed"
  elif [ -e "$orv_binfmt/qemu-i386" ] && ! orv_qemu_runs_32bit; then
    echo "the binfmt_misc registration qemu-i386 is disabled"
  elif [ ! -e "$orv_binfmt/qemu-i386" ]; then
    echo "the kernel does not execute 32-bit code and qemu-i386 is not registered with binfmt_misc"
  else
    echo "/usr/lib/wine/wine --version failed"
  fi
}
# A prefix made before 32-bit Wine was installed has no 32-bit system
# files, and every 32-bit program then fails with "could not load
# kernel32.dll, status c0000135": such a prefix is made anew.
orv_prefix_has_32bit() {
  [ ! -x /usr/lib/wine/wine ] || [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]
}

# What a new prefix must hold, from each pass of "wineboot -i" (the 64-bit
# one, then the 32-bit one under WOW64): the print processor of each
# environment (the spooler tests print through it), the 32-bit pass's
# registry settings (the last of its telephony country list), and
# wintrust's action of generic verification, registered after the print
# processor. Prints each missing item on a line.
orv_prefix_missing() {
  local reg=$WINEPREFIX/system.reg key
  local keys=('System\CurrentControlSet\Control\Print\Environments\Windows x64\Print Processors\winprint')
  if [ -x /usr/lib/wine/wine ]; then
    orv_prefix_has_32bit || echo 'C:\windows\syswow64\kernel32.dll (the 32-bit system files)'
    keys+=('System\CurrentControlSet\Control\Print\Environments\Windows NT x86\Print Processors\winprint'
           'Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Telephony\Country List\998'
           'Software\Wow6432Node\Microsoft\Cryptography\Providers\Trust\FinalPolicy\{00AAC56B-CD44-11D0-8CC2-00C04FC295EE}')
  fi
  # system.reg names a key with doubled backslashes, and lists a key
  # without values only through its subkeys.
  for key in "${keys[@]}"; do
    key=${key//\\/\\\\}
    grep -qiF -e "[$key]" -e "[$key\\\\" "$reg" 2>/dev/null || echo "HKLM\\${key//\\\\/\\}"
  done
}

# DLLs left out of "wineboot -i": their registrations are not needed here,
# and under QEMU they cost the 32-bit pass the last of its address space.
# A 32-bit Wine process there has about 120 MiB for the Windows side
# (docs/building.md); by the time the pass reaches winegstreamer, about
# 4 MiB are left, and when its delayed load of mfplat.dll finds none, the
# process aborts ("unimplemented function mfplat.dll.MFTRegister") and the
# rest of the pass (the x86 print processor among it) never runs.
# ORV_WINEBOOT_OVERRIDES adds overrides of a caller's (a test leaves out
# winprint to make an incomplete prefix).
orv_wineboot_overrides="winegstreamer,mshtml,mscoree=d${ORV_WINEBOOT_OVERRIDES:+;$ORV_WINEBOOT_OVERRIDES}"

# Makes the prefix anew: "wineboot -i", then the caller's settings (the
# function named by $2, if any), then a restart of its wineserver so that
# the registry is on disk, and the check. An incomplete prefix is made
# once more; if it is incomplete again, it is removed and the message
# names what is missing. Everything Wine prints goes to the log $1.
orv_create_prefix() {
  local log=$1 settings=${2:-} try missing=
  mkdir -p "$(dirname "$WINEPREFIX")"
  for try in 1 2; do
    [ -d "$WINEPREFIX" ] && { "$WINESERVER" -k >>"$log" 2>&1; timeout 60 "$WINESERVER" -w >>"$log" 2>&1; }
    rm -rf "$WINEPREFIX"
    WINEDLLOVERRIDES=$orv_wineboot_overrides timeout -k 5 300 "$WINELOADER" wineboot -i >>"$log" 2>&1 </dev/null
    [ -z "$settings" ] || "$settings"
    "$WINESERVER" -k >>"$log" 2>&1 || true
    timeout 60 "$WINESERVER" -w >>"$log" 2>&1 || true
    missing=$(orv_prefix_missing)
    [ -z "$missing" ] && return 0
    echo "wine: the new prefix $WINEPREFIX lacks:" >&2
    sed 's/^/  /' <<<"$missing" >&2
    [ "$try" = 1 ] && echo "wine: making it again (see $log)" >&2
  done
  rm -rf "$WINEPREFIX"
  echo "wine: the prefix came out incomplete twice and was removed; see $log" >&2
  return 1
}

# orv_copy_prefix FROM TO: a prefix of its own made in a fraction of a
# second from a prefix that is ready (made and checked by wine-env.sh):
# the files Wine only reads are hard links, everything else (registry,
# ini files) is copied.
orv_copy_prefix() {
  local from=$1 to=$2
  rm -rf "$to"
  mkdir -p "$(dirname "$to")"
  cp -a --link "$from" "$to" || return 1
  find "$to" -type f -links +1 \
      ! -iregex '.*\.\(dll\|exe\|sys\|drv\|ocx\|cpl\|acm\|tlb\|ax\|com\|nls\|ttf\|ttc\|fon\|msstyles\)' \
      -print0 |
    while IFS= read -r -d '' file; do
      cp -p "$file" "$file.orv-copy" && mv -f "$file.orv-copy" "$file"
    done
}
