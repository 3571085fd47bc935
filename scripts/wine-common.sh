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
# 32-bit Wine preloads scripts/qemu/wine-segments.c, built by wine-env.sh.
orv_qemu_preload_dir=$(dirname "$WINEPREFIX")/qemu-preload
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] &&
   [ -f "$orv_qemu_preload_dir/lib/i386-linux-gnu/orv-wine-segments.so" ]; then
  export QEMU_SET_ENV="LD_PRELOAD=$orv_qemu_preload_dir/\$LIB/orv-wine-segments.so"
fi
