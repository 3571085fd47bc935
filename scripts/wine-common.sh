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
orv_qemu_runs_32bit() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; }
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
orv_runs_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
# A prefix made before 32-bit Wine was installed has no 32-bit system
# files, and every 32-bit program then fails with "could not load
# kernel32.dll, status c0000135": such a prefix is made anew.
orv_prefix_has_32bit() {
  [ ! -x /usr/lib/wine/wine ] || [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]
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
