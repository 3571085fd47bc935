/*
 * window.cpp - the status window's dialog procedure, the tick, the
 * restore action, the tray menu and the shutdown step.
 *
 * Texts are Shift-JIS (this file is compiled with -fexec-charset=CP932).
 */
#include "window.h"

#include <cstdio>

#include "cancel.h"
#include "catalogue.h"
#include "placement.h"
#include "printer_check.h"
#include "record.h"
#include "tray.h"

namespace orv {

namespace {

constexpr UINT_PTR kTimerEvent = 1;
constexpr int kPopUpCode = 300;  // codes from here on pop the window up and flash its caption
constexpr char kTitlePrefix[] = "ステータスモニタ : ";

constexpr char kMenuRestoreText[] = "元のサイズに戻す(&R)";
constexpr char kMenuCancelText[] = "印刷中止(&C)";
constexpr char kMenuExitText[] = "ステータス表示の終了(&X)";

/* The program-wide state of the window. */
struct StatusWindow {
    HWND window = nullptr;          // the one status window
    MonitorState* state = nullptr;  // owned by start-up
    int display_mode = 0;           // DSP_MODE as read at start
    uint8_t flash = kFlashIdle;     // caption flashing, see NextFlashState
    UINT taskbar_created = 0;       // the shell's message after Explorer restarts
    void (*end_run)() = nullptr;    // start-up's end of the run, for the end of the session
};

StatusWindow g_status;

MonitorState& State() {
    return *g_status.state;
}

void SetTitle(HWND window, const MonitorState& state) {
    char title[sizeof kTitlePrefix + kTextBufferSize];
    snprintf(title, sizeof title, "%s%s", kTitlePrefix, state.printer_name);
    SetWindowTextA(window, title);
}

HICON LoadStateIcon(WORD id) {
    return LoadIconA(State().instance, MAKEINTRESOURCEA(id));
}

/* The standard system menu keeps Move, Minimise, a separator and Close:
 * the window has no other size than its own. */
void TrimSystemMenu(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr)
        return;
    // Each position counts after the removals before it: Restore, Size,
    // Maximise; the fourth finds nothing on the standard menu.
    const UINT positions[] = {0, 1, 2, 4};
    for (UINT position : positions)
        RemoveMenu(menu, position, MF_BYPOSITION);
    DrawMenuBar(window);
}

/* Topmost and back brings the window above every other window without
 * keeping it there. */
void RaiseWindow(HWND window) {
    const UINT flags = SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW;
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, flags);
    SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, flags);
    SetForegroundWindow(window);
}

/* Makes a button the default one and gives it the focus, so that Enter
 * presses it: the print-cancel button while a serious error is shown. */
void MakeDefaultButton(HWND window, int button) {
    SendMessageA(window, DM_SETDEFID, button, 0);
    SendMessageA(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window, button)), TRUE);
}

void CloseProgram(HWND window) {
    PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
}

/* The printer check found an error that ends the program: no icon may be
 * left behind in the notification area. */
void EndProgramAtOnce() {
    if (State().in_tray == 1)
        DeleteTrayIcon();
    ExitProcess(0);
}

/* --- the tick ------------------------------------------------------------ */

void UpdateTrayIcon() {
    MonitorState& state = State();
    SetTrayTip(state.short_text);
    HICON icon = LoadStateIcon(TrayIconFor(state.current_code));
    if (icon == nullptr)
        return;  // the icon stays as it was for this tick
    SetTrayIcon(icon);
    // A notification area that lost the icon (its process restarted
    // without the TaskbarCreated message reaching us) refuses the change.
    if (state.in_tray == 1 && !ModifyTrayIcon())
        AddTrayIcon();
}

/* Display mode 2: the window comes out for a new code of 300 or more and
 * goes back once the code falls below 300. */
void FollowErrors(HWND window) {
    const MonitorState& state = State();
    if (state.current_code >= kPopUpCode && state.current_code != state.previous_code)
        PostMessageA(window, kTrayMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    else if (state.current_code < kPopUpCode && state.previous_code >= kPopUpCode)
        MinimiseStatusWindow(window);
}

void UpdateFlash(HWND window) {
    const MonitorState& state = State();
    uint8_t flash = NextFlashState(g_status.flash, state.flash_enabled != 0, state.current_code,
                                   state.previous_code);
    switch (FlashActionFor(flash, GetForegroundWindow() == window, &g_status.flash)) {
        case FlashAction::kFlashCaption:
            FlashWindow(window, TRUE);
            break;
        case FlashAction::kRestoreCaption:
            FlashWindow(window, FALSE);
            break;
        case FlashAction::kNone:
            break;
    }
}

VOID CALLBACK OnTimer(HWND window, UINT, UINT_PTR, DWORD) {
    TickStatusWindow(window);
}

/* --- restore and the tray menu --------------------------------------------- */

/* Tray double-click, the tray menu's restore, or a new error in display
 * mode 2. With the status code unchanged the user asks to see the
 * printer: the printer check runs first and may keep the window in the
 * notification area. */
void RunRestoreAction(HWND window) {
    if (g_printer_check_running)
        return;
    MonitorState& state = State();
    if (state.current_code == state.previous_code) {
        int verdict = CheckPrinter(state);
        g_printer_check_running = 0;
        if (verdict == kCheckFatal)
            EndProgramAtOnce();
        if (verdict == kCheckReported)
            return;
    }
    ShowWindow(window, SW_SHOWNOACTIVATE);  // from the tray this runs OnQueryOpen
    if (state.current_code == state.previous_code)
        return;
    RaiseWindow(window);
    if (IsSeriousCode(state.current_code))
        MakeDefaultButton(window, kCancelButton);
    else if (IsSeriousCode(state.previous_code))
        MakeDefaultButton(window, kOkButton);
}

UINT TrackTrayMenu(HWND window) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr)
        return 0;
    AppendMenuA(menu, MF_STRING, kMenuRestore, kMenuRestoreText);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kMenuCancel, kMenuCancelText);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kMenuExit, kMenuExitText);
    POINT cursor = {};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user
    // clicks elsewhere.
    SetForegroundWindow(window);
    UINT command = static_cast<UINT>(TrackPopupMenu(
        menu, TPM_RIGHTALIGN | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, cursor.x, cursor.y, 0,
        window, nullptr));
    PostMessageA(window, WM_USER, 0, 0);  // lets the menu close cleanly
    DestroyMenu(menu);
    return command;
}

/* The menu's commands count only while the window is in the tray: in the
 * shown window the buttons are the way in. */
void ShowTrayMenu(HWND window) {
    UINT command = TrackTrayMenu(window);
    if (State().in_tray != 1)
        return;
    switch (command) {
        case kMenuRestore:
            SendMessageA(window, kTrayMessage, kTrayIconId, WM_LBUTTONDBLCLK);
            break;
        case kMenuExit:
            SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
            break;
        case kMenuCancel:
            SendMessageA(window, WM_COMMAND, kCancelButton, 0);
            break;
        default:
            break;
    }
}

/* --- messages -------------------------------------------------------------- */

void OnInitDialog(HWND window) {
    MonitorState& state = State();
    g_status.window = window;
    if (PollRecord(window, state, 0) != kPollDone)
        CloseProgram(window);
    SetTitle(window, state);
    SetClassLongPtrA(window, GCLP_HICON, reinterpret_cast<LONG_PTR>(LoadStateIcon(kIconPrinter)));
    TrimSystemMenu(window);
    InitTrayIcon(window, LoadStateIcon(kIconPrinter));
    state.timer_id = SetTimer(window, kTimerEvent, kTickMs, OnTimer);
    state.first_poll_done = 1;
    RestorePosition(window);
}

void OnMinimised(HWND window) {
    AddTrayIcon();
    ShowWindow(window, SW_HIDE);
    State().in_tray = 1;
}

/* The window is being restored from the notification area. */
void OnQueryOpen(HWND window) {
    DeleteTrayIcon();
    State().in_tray = 0;
    RaiseWindow(window);
    MakeDefaultButton(window, IsSeriousCode(State().current_code) ? kCancelButton : kOkButton);
}

/* Runs when the user closes the window (through OnClose) and again when
 * the window is really destroyed; the second run only saves the position
 * again. */
void Shutdown(HWND window) {
    MonitorState& state = State();
    if (state.in_tray == 1) {
        DeleteTrayIcon();
        state.in_tray = 0;
    }
    if (state.timer_id != 0 && KillTimer(window, state.timer_id))
        state.timer_id = 0;
    SavePosition(window);
    SetWindowLongPtrA(window, DWLP_USER, 1);
    EndDialog(window, 1);
    // The message loop looks at the user value when a message arrives;
    // make sure one does.
    PostMessageA(window, WM_NULL, 0, 0);
}

/* Esc, the system menu's Close, the tray menu's exit, a failed poll. The
 * shutdown runs at once; the message loop ends at its next message. */
void OnClose(HWND window, WPARAM command) {
    SetWindowLongPtrA(window, DWLP_USER, static_cast<LONG_PTR>(command));
    Shutdown(window);
}

/* Log-off or shut-down goes on: close as the user does, and end the run
 * before WM_ENDSESSION returns. */
void OnSessionEnd(HWND window) {
    OnClose(window, IDCANCEL);
    if (g_status.end_run != nullptr)
        g_status.end_run();
}

void OnCommand(HWND window, WPARAM command) {
    switch (LOWORD(command)) {
        case IDCANCEL:
            OnClose(window, command);
            break;
        case kOkButton:
            MinimiseStatusWindow(window);
            break;
        case kCancelButton:
            RequestCancel(window, State());
            break;
        default:
            break;
    }
}

void OnTrayMessage(HWND window, LPARAM mouse_event) {
    if (mouse_event == WM_LBUTTONDBLCLK)
        RunRestoreAction(window);
    else if (mouse_event == WM_RBUTTONDOWN)
        ShowTrayMenu(window);
}

INT_PTR CALLBACK StatusDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(window);
            break;
        case WM_SIZE:
            if (wparam == SIZE_MINIMIZED)
                OnMinimised(window);
            break;
        case WM_QUERYOPEN:
            OnQueryOpen(window);
            break;
        case WM_DESTROY:
            Shutdown(window);
            break;
        case WM_QUERYENDSESSION:
            break;  // the default answer, TRUE: the monitor never holds up the end of a session
        case WM_ENDSESSION:
            if (wparam)  // FALSE: the end of the session was called off
                OnSessionEnd(window);
            break;
        case WM_COMMAND:
            OnCommand(window, wparam);
            break;
        case kTrayMessage:
            OnTrayMessage(window, lparam);
            break;
        default:
            // Explorer restarted: its new notification area has no icon.
            if (message == g_status.taskbar_created && message != 0 && State().in_tray == 1)
                AddTrayIcon();
            break;
    }
    return 0;  // the dialog manager's defaults apply to every message
}

}  // namespace

HWND CreateStatusWindow(MonitorState& state, int display_mode, void (*end_run)()) {
    g_status = StatusWindow{};
    g_status.state = &state;
    g_status.display_mode = display_mode;
    g_status.end_run = end_run;
    g_status.taskbar_created = RegisterWindowMessageA("TaskbarCreated");
    return CreateDialogParamA(state.instance, MAKEINTRESOURCEA(kStatusDialog), nullptr, StatusDialogProc, 0);
}

void ShowAtStart(HWND window, int display_mode, int current_code) {
    if (display_mode == kDisplayInTray ||
        (display_mode == kDisplayOnErrors && current_code < kPopUpCode)) {
        ShowWindow(window, SW_MINIMIZE);
        return;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    if (display_mode == kDisplayOnErrors)
        SetForegroundWindow(window);
    else
        RaiseWindow(window);
}

void TickStatusWindow(HWND window) {
    int poll = PollRecord(window, State(), 1);
    UpdateTrayIcon();
    if (poll != kPollDone)
        CloseProgram(window);
    if (g_status.display_mode == kDisplayOnErrors)
        FollowErrors(window);
    UpdateFlash(window);
}

void MinimiseStatusWindow(HWND window) {
    if (g_status.state != nullptr && State().in_tray == 1)
        return;
    ShowWindow(window, SW_MINIMIZE);
}

uint8_t NextFlashState(uint8_t state, bool flash_enabled, int current_code, int previous_code) {
    if (!flash_enabled)
        return state & kFlashStopRequested;
    if (current_code >= kPopUpCode && current_code != previous_code)
        return state | kFlashRequested;
    if (current_code < kPopUpCode && previous_code >= kPopUpCode)
        return state & kFlashStopRequested;
    return state;
}

FlashAction FlashActionFor(uint8_t state, bool is_foreground, uint8_t* next_state) {
    switch (state) {
        case kFlashRequested:
        case kFlashing:
            if (is_foreground) {
                *next_state = kFlashIdle;
                return FlashAction::kRestoreCaption;
            }
            *next_state = kFlashing;
            return FlashAction::kFlashCaption;
        case kFlashStopRequested:
            *next_state = kFlashIdle;
            return FlashAction::kRestoreCaption;
        default:
            *next_state = state;
            return FlashAction::kNone;
    }
}

}  // namespace orv
