#!/usr/bin/env bash
# The status monitor runs from Windows XP: every platform function that
# its code calls must be one XP has. Lists the functions that the static
# library imports, or that the program's import table names, and fails on
# any not in the list of XP functions below (add a function there only
# after checking that XP exports it).
# usage: check-xp-imports.sh NM LIBRARY
#        check-xp-imports.sh --program OBJDUMP PROGRAM
set -euo pipefail
export LC_ALL=C  # the tools' output is parsed in English
xp_functions="
CloseHandle CreateMutexA EnableWindow GetDlgItem GetDlgItemTextA IsDBCSLeadByte
LoadIconA LocalAlloc LocalFree LocalReAlloc LocalSize RegCloseKey RegCreateKeyExA
RegDeleteValueA RegOpenKeyExA RegQueryValueExA RegSetValueExA ReleaseMutex
SendDlgItemMessageA SetDlgItemTextA SetWindowTextA WaitForSingleObject
"
# The program: start-up, printer check, window, tray and cancel.
xp_functions+="
ExitProcess GetCurrentProcess GetCurrentProcessId GetLastError GetModuleHandleA GetProcAddress
GetProfileStringA GetTickCount GetVersionExA SetLastError Sleep
AppendMenuA CreateDialogParamA CreatePopupMenu DestroyMenu DestroyWindow
DispatchMessageA DrawMenuBar EndDialog FlashWindow GetCursorPos
GetForegroundWindow GetMessageA GetSystemMenu GetWindowLongA GetWindowLongPtrA
GetWindowPlacement GetWindowRect IsDialogMessageA IsWindow KillTimer MessageBoxA
MoveWindow PostMessageA PostQuitMessage RegisterWindowMessageA RemoveMenu SendMessageA
SetClassLongA SetClassLongPtrA SetForegroundWindow SetTimer SetWindowLongA
SetWindowLongPtrA SetWindowPos ShowWindow SystemParametersInfoA TrackPopupMenu
TranslateMessage UpdateWindow
Shell_NotifyIconA
ClosePrinter EndDocPrinter EnumJobsA EnumPrintersA OpenPrinterA StartDocPrinterA
WritePrinter
"
# What the MinGW start-up code and C runtime of the program import.
xp_functions+="
DeleteCriticalSection EnterCriticalSection FreeLibrary GetModuleHandleW
GetStartupInfoA InitializeCriticalSection IsDBCSLeadByteEx LeaveCriticalSection
LoadLibraryA MultiByteToWideChar SetUnhandledExceptionFilter TlsGetValue
VirtualProtect VirtualQuery WideCharToMultiByte __C_specific_handler
___lc_codepage_func ___mb_cur_max_func __getmainargs __initenv __iob_func
__mb_cur_max __p__acmdln __p__commode __p__fmode __set_app_type __setusermatherr
_acmdln _amsg_exit _cexit _commode _errno _fmode _initterm _iob _onexit abort
atoi calloc exit fprintf fputc free fwrite localeconv malloc memcpy memset
setlocale signal strchr strcmp strerror strlen strncmp vfprintf wcslen
"

if [ "${1:-}" = "--program" ]; then
  objdump=$2 file=$3
  # The member names of the import table, one a line.
  imports=$("$objdump" -p "$file" | sed -n '/The Import Tables/,/^The /p' |
            awk '/^\t[ ]*[0-9a-f]+\t *[0-9]+  [A-Za-z_]/ {print $3}' | sort -u)
else
  nm=$1 file=$2
  imports=$("$nm" -u "$file" | sed -n 's/.*__imp__\{0,1\}\([A-Za-z0-9_]*\).*/\1/p' | sort -u)
fi
[ -n "$imports" ] || { echo "no imports found in $file"; exit 1; }
status=0
for name in $imports; do
  if ! grep -qw -- "$name" <<<"$xp_functions"; then
    echo "not an XP function (or not yet checked): $name"
    status=1
  fi
done
echo "$(wc -w <<<"$imports") imported functions checked"
exit $status
