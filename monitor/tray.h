/*
 * tray.h - the status monitor's icon in the notification area.
 *
 * While the status window is minimised it is hidden and this icon stands
 * for it: its picture follows the printer's status class, its tip shows
 * the one-line status, and its mouse events come back to the window as
 * message kTrayMessage. One record serves the whole program; the window
 * keeps its icon and tip up to date at every tick, shown or not, so that
 * adding the icon shows the present state at once.
 */
#ifndef ORV_MONITOR_TRAY_H
#define ORV_MONITOR_TRAY_H

#include <windows.h>

namespace orv {

constexpr UINT kTrayMessage = WM_APP + 100;  // 0x8064
constexpr UINT kTrayIconId = 1;
constexpr size_t kTrayTipSize = 64;

/* The icon resource for a status code: 199 ready or printing, 211
 * fetching information or a notice (150), 212 the operator-recoverable
 * states 300 to 310, 226 the hardware alarms, 213 every other code. */
WORD TrayIconFor(int code);

/* Fills the record for `window` with `icon` and an empty tip. */
void InitTrayIcon(HWND window, HICON icon);

/* Changes the record only; Modify or Add shows it. The tip is cut to
 * fit, never inside a double-byte character. */
void SetTrayIcon(HICON icon);
void SetTrayTip(const char* tip);

/* Shell_NotifyIcon with the record; true on success. */
bool AddTrayIcon();
bool ModifyTrayIcon();
bool DeleteTrayIcon();

}  // namespace orv

#endif  // ORV_MONITOR_TRAY_H
