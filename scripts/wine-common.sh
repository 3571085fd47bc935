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
