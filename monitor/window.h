/*
 * window.h - the status window: a modeless dialog (template 197) that
 * shows the printer's state, with its icon in the notification area while
 * it is minimised, driven by a 500 ms timer that polls the status record.
 *
 * The tick polls the record (record.h), which shows the status message
 * (catalogue.h); the tick then keeps the tray icon in step, closes the
 * program when the record is gone, and in display mode 2 pops the window
 * up for a new status code of 300 or more and sends it back when the
 * code falls below 300. A new error also blinks the caption (when the
 * language monitor asks for it with TSK_MODE "1") until the user
 * activates the window. Restoring the window from the tray while the
 * status code has not changed runs the printer check first
 * (printer_check.h).
 *
 * Everything here runs on the one user-interface thread.
 *
 * Choices of this implementation (see docs/monitor.md):
 *  - Minimising a window that is already in the notification area does
 *    nothing, so it never shows up minimised on the taskbar.
 *  - When the shell's taskbar is created again (Explorer restarted), the
 *    icon is added again while the window is in the notification area;
 *    so is it when a tick's update of the icon fails (the notification
 *    area lost it without that message).
 *  - When the printer check ends the program, the tray icon is removed
 *    first.
 *  - At log-off and shut-down (WM_ENDSESSION with TRUE) the window closes
 *    as when the user closes it, and then the run's end given to
 *    CreateStatusWindow runs, all before the message returns: once it has
 *    returned, Windows may end the process without another message. The
 *    end of the session is never refused.
 */
#ifndef ORV_MONITOR_WINDOW_H
#define ORV_MONITOR_WINDOW_H

#include <windows.h>

#include <cstdint>

#include "state.h"

namespace orv {

constexpr int kStatusDialog = 197;
constexpr int kCancelButton = 1047;
constexpr UINT kTickMs = 500;

/* Tray menu commands. */
constexpr UINT kMenuRestore = 200;
constexpr UINT kMenuExit = 300;
constexpr UINT kMenuCancel = 400;

/* Display modes (DSP_MODE). */
constexpr int kDisplayInTray = 1;       // start in the notification area
constexpr int kDisplayOnErrors = 2;     // show only for codes of 300 and above

/* Creates the status window from dialog 197 of the state's module,
 * without owner. Its initialisation polls the record, starts the timer
 * and places the window. `end_run`, when given, is called at the end of
 * the session after the window's shutdown step, to release what the
 * program holds beyond the window. nullptr on failure. One window per
 * program. */
HWND CreateStatusWindow(MonitorState& state, int display_mode, void (*end_run)() = nullptr);

/* The first show state, by display mode: 1 minimised, 2 minimised below
 * code 300 and shown above, others shown and brought to the front. */
void ShowAtStart(HWND window, int display_mode, int current_code);

/* One 500 ms tick (the timer's callback). */
void TickStatusWindow(HWND window);

/* Moves the window to the notification area unless it is there. */
void MinimiseStatusWindow(HWND window);

/* The caption flashing, updated once per tick. */
constexpr uint8_t kFlashIdle = 0x00;
constexpr uint8_t kFlashRequested = 0x01;
constexpr uint8_t kFlashing = 0x11;
constexpr uint8_t kFlashStopRequested = 0x10;

uint8_t NextFlashState(uint8_t state, bool flash_enabled, int current_code, int previous_code);

enum class FlashAction { kNone, kRestoreCaption, kFlashCaption };

/* What to do with the caption in a state, and the state after it. */
FlashAction FlashActionFor(uint8_t state, bool is_foreground, uint8_t* next_state);

}  // namespace orv

#endif  // ORV_MONITOR_WINDOW_H
