/*
 * tray.cpp - the notification-area icon record and its three calls.
 */
#include "tray.h"

#include <shellapi.h>

#include "catalogue.h"
#include "state.h"

namespace orv {

namespace {

// The first version of the record (88 bytes in the 32-bit program), which
// every system from the 9x family on understands.
NOTIFYICONDATAA g_tray_icon;

bool Notify(DWORD message) {
    return Shell_NotifyIconA(message, &g_tray_icon) != FALSE;
}

}  // namespace

WORD TrayIconFor(int code) {
    if (code == 0 || code == 2)
        return kIconPrinter;
    if (code == 100 || code == kNoticeCode)
        return kIconInformation;
    if (code >= 300 && code <= 310)
        return kIconWarning;
    if (code == 700 || (code >= 702 && code <= 705) || (code >= 707 && code <= 715))
        return kIconAlarm;
    return kIconError;
}

void InitTrayIcon(HWND window, HICON icon) {
    g_tray_icon = NOTIFYICONDATAA{};
    g_tray_icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    g_tray_icon.hWnd = window;
    g_tray_icon.uID = kTrayIconId;
    g_tray_icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_tray_icon.uCallbackMessage = kTrayMessage;
    g_tray_icon.hIcon = icon;
}

void SetTrayIcon(HICON icon) {
    g_tray_icon.hIcon = icon;
}

void SetTrayTip(const char* tip) {
    CopyTextCut(g_tray_icon.szTip, kTrayTipSize, tip);
}

bool AddTrayIcon() {
    return Notify(NIM_ADD);
}

bool ModifyTrayIcon() {
    return Notify(NIM_MODIFY);
}

bool DeleteTrayIcon() {
    return Notify(NIM_DELETE);
}

}  // namespace orv
