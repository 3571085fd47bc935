#!/usr/bin/env bash
# The status monitor demo: the shipped 32-bit orvstsn.exe under Wine on a
# virtual display (Xvfb, Wine's desktop with a taskbar, Japanese fonts),
# with a printer in Wine's spooler and lm-sim playing the printer's
# language monitor. In the 64-bit prefix the monitor runs under WOW64, as
# on 64-bit Windows: in its global mode, which needs a supported printer
# and the record key before it starts, and whose record lies in the
# 32-bit registry view, so lm-sim and monitor-ctl are the 32-bit ones. It
# goes through ready, printing, a low front feeder, paper out (the window
# pops up), a cancel from the button and back to ready, then once more at
# 144 DPI (150 % scaling, from HKCU\Control Panel\Desktop\LogPixels), and
# saves a screenshot of each state as PNG under build/demo/.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${ORV_BUILD:-$root/build}
work=$build/demo
mkdir -p "$work"
export ORV_WINEPREFIX=$build/wine-demo  # a prefix with a display driver, apart from the tests'
source "$here/wine-common.sh"
# (ORV_DEMO_BUILD=win64: the 64-bit monitor, in the same global mode
# without WOW64, with the 64-bit tools)
program=${ORV_DIST:-$root/dist}/${ORV_DEMO_BUILD:-win32}/orvstsn.exe
bin=$build/${ORV_DEMO_BUILD:-win32}/bin  # lm-sim.exe and monitor-ctl.exe, of the monitor's registry view
orv_prepare_qemu
log=$work/monitor-wine.log
: >"$log"

# Xvfb takes a free display itself and writes its number once it listens.
rm -f "$work/xvfb.display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/xvfb.display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=
for _ in $(seq 100); do display=$(cat "$work/xvfb.display" 2>/dev/null) && [ -n "$display" ] && break; sleep 0.1; done
[ -n "$display" ] || { echo "demo-monitor: Xvfb did not start (see $work/xvfb.log)"; kill "$xvfb_pid"; exit 1; }
export DISPLAY=":$display"

cleanup() {
  "$WINESERVER" -k >>"$log" 2>&1 || true
  timeout 30 "$WINESERVER" -w >>"$log" 2>&1 || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

wine() { timeout -k 5 60 "$WINELOADER" "$@" </dev/null 2>>"$log"; }
reg() { wine reg "$@" >>"$log"; }

# The demo's settings of a new prefix.
demo_prefix_settings() {
  # Wine's own desktop with a taskbar and notification area.
  reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f
  reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 800x600 /f
  # The dialog's font and the system's Japanese fonts, from the IPA fonts.
  subst='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  for font in "ＭＳ Ｐゴシック" "MS PGothic" "MS UI Gothic"; do reg add "$subst" /v "$font" /d IPAPGothic /f; done
  for font in "ＭＳ ゴシック" "MS Gothic"; do reg add "$subst" /v "$font" /d IPAGothic /f; done
  # The caption buttons are drawn from Marlett.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
}
if [ ! -f "$WINEPREFIX/.orv-demo-ready" ] || [ -n "$(orv_prefix_missing)" ]; then
  echo "demo-monitor: creating the demo's Wine prefix $WINEPREFIX"
  orv_create_prefix "$log" demo_prefix_settings || exit 1
  touch "$WINEPREFIX/.orv-demo-ready"
fi
# The display's resolution: 96 DPI (100 %) until the last step, also
# after a run that stopped during it. Wine reads it when a program starts.
set_dpi() {
  reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f
}
set_dpi 96

lm() { wine "$bin/lm-sim.exe" "$@" | tr -d '\r' | iconv -f CP932 -t UTF-8; }
ctl() { wine "$bin/monitor-ctl.exe" "$@" | tr -d '\r' | iconv -f CP932 -t UTF-8; }
step() { printf '\n== %s\n' "$*"; }
shots=()
shot() {
  sleep 0.7  # let the window finish painting
  import -display "$DISPLAY" -window root "$work/$1.png"
  shots+=("$work/$1.png")
  echo "screenshot: $work/$1.png"
}
# The notification area, enlarged four times (the full screenshot shows
# the icon at its real 16-pixel size in the corner).
tray_shot() {
  shot "$1"
  /usr/bin/convert "$work/$1.png" -crop 120x20+680+580 +repage -scale 400% "$work/$1-zoom.png"
  shots+=("$work/$1-zoom.png")
  echo "screenshot: $work/$1-zoom.png"
}

step "a printer 'ORV orv2100' on LPT1: in Wine's spooler, default, bidirectional; its jobs go to a file"
printers='HKLM\System\CurrentControlSet\Control\Print\Printers\ORV orv2100'
reg add "$printers" /v Name /d "ORV orv2100" /f
reg add "$printers" /v Port /d "LPT1:" /f
reg add "$printers" /v "Printer Driver" /d "ORV orv2100" /f
reg add "$printers" /v Attributes /t REG_DWORD /d 0x800 /f
reg add "$printers" /v Datatype /d RAW /f
reg add "$printers" /v "Print Processor" /d winprint /f
reg add 'HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows' /v Device /d "ORV orv2100,winspool,LPT1:" /f
rm -f "$work/lpt1-jobs.bin"
reg add 'HKCU\Software\Wine\Printing\Spooler' /v "LPT1:" /d "$work/lpt1-jobs.bin" /f
lm remove >/dev/null 2>&1 || true
step "the record key, as the installation and the language monitor keep it"
lm defaults

step "start orvstsn.exe: it writes the record's defaults and, with nothing to report, waits in the tray"
timeout -k 5 600 "$WINELOADER" "$program" </dev/null >>"$log" 2>&1 &
monitor_pid=$!
ctl wait tray
sleep 1
lm set PRT_NAME "ORV orv2100"
tray_shot monitor-1-tray

step "double-click on the tray icon: the printer check passes and sends the wake-up job"
ctl restore
ctl wait shown
echo "wake-up job: $(stat -c %s "$work/lpt1-jobs.bin" 2>/dev/null || echo 0) bytes to LPT1:; the record says $(lm print | grep ERR_CODE)"
step "the language monitor answers: ready"
lm set ERR_CODE 0
sleep 1
ctl state
shot monitor-2-ready

step "printing a job"
cat >"$work/printing.txt" <<'EOF'
at 0 set USR_NAME "山田"
at 0 set DOC_NAME "見積書.xls"
at 0 set ERR_CODE 2
EOF
lm run "Z:${work//\//\\}\\printing.txt" --utf8
sleep 1
ctl state
shot monitor-3-printing

step "the front cut-sheet feeder runs low (15 %); the notice ends the message, scrolled to"
lm set CSF_FRONT 15
sleep 1
ctl state
ctl scroll
shot monitor-4-front-feeder-low

step "OK puts the window back into the tray; then paper out (302) brings it out again"
ctl click ok
ctl wait tray
lm set ERR_CODE 302
ctl wait shown
sleep 0.5
ctl state
shot monitor-5-paper-out

step "print cancel from the button; the language monitor cancels the job after 1.5 s"
lm answer-cancel 1500 20000 &
answer_pid=$!
sleep 0.5
ctl click cancel
ctl wait tray 15000
wait "$answer_pid" || true
lm set ERR_CODE 0
lm set CSF_FRONT 100
lm set DOC_NAME "  "
sleep 1
tray_shot monitor-6-cancelled

step "double-click on the tray icon again: printer check, wake-up job, ready"
ctl restore
ctl wait shown
lm set ERR_CODE 0
sleep 1
ctl state
shot monitor-7-ready-again

step "the language monitor removes the record: the monitor ends"
lm remove
ctl wait gone
wait "$monitor_pid" || true
echo "orvstsn.exe ended"

step "at 144 DPI (150 % scaling): the monitor declares itself DPI-aware, so it lays the window out at that size; paper out"
set_dpi 144
lm defaults
timeout -k 5 600 "$WINELOADER" "$program" </dev/null >>"$log" 2>&1 &
monitor_pid=$!
ctl wait tray
lm set PRT_NAME "ORV orv2100"
lm set USR_NAME "Yamada"
lm set DOC_NAME "report.txt"
lm set ERR_CODE 302
ctl wait shown
sleep 0.5
ctl state
shot monitor-8-paper-out-144dpi
lm remove
ctl wait gone
wait "$monitor_pid" || true
set_dpi 96

step "screenshots"
for file in "${shots[@]}"; do echo "  $file"; done
# Two of them illustrate the README.
mkdir -p "$root/docs/images"
cp "$work/monitor-3-printing.png" "$root/docs/images/monitor-printing.png"
cp "$work/monitor-5-paper-out.png" "$root/docs/images/monitor-paper-out.png"
cp "$work/monitor-8-paper-out-144dpi.png" "$root/docs/images/monitor-paper-out-144dpi.png"
echo "  copied to docs/images/monitor-printing.png, docs/images/monitor-paper-out.png and"
echo "  docs/images/monitor-paper-out-144dpi.png"

