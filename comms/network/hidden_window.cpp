/*
 * hidden_window.cpp - the class, window and message loop shared by the
 * status exchange, the search window and the connect probe.
 *
 * The loop runs on the caller's thread and dispatches the messages of all
 * its windows, so a caller's own windows stay alive while a run waits. It
 * ends once the run's own window is gone, checked after every message.
 * The run never posts a quit message: a caller's window procedure that
 * the loop dispatches may open a message box or another modal dialog,
 * the run's timer then fires inside that dialog's loop, and a quit would
 * end the dialog as if the user had answered it. When the window goes
 * while the loop waits in GetMessageA (destroyed by a message sent from
 * another thread), a private thread message wakes the loop instead; no
 * other loop acts on it. A quit posted by the caller's code during the
 * run is handed back to the caller, once, after the run.
 */
#include "hidden_window.h"

#include <cstdint>
#include <cstdio>

namespace orv {

namespace {

constexpr int kWindowWidth = 320;
constexpr int kWindowHeight = 24;
// The reason given for a window that the platform refused without one.
constexpr DWORD kNoWindowError = ERROR_INVALID_WINDOW_HANDLE;

}  // namespace

BOOL RegisterHiddenClass(HINSTANCE instance, const char* class_name, WNDPROC procedure) {
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = class_name;
    return RegisterClassExA(&window_class) != 0;
}

BOOL UnregisterHiddenClass(HINSTANCE instance, const char* class_name) {
    return UnregisterClassA(class_name, instance);
}

bool FormatRunClassName(char* name, size_t size, const char* base, const char* host, const void* unique) {
    // The address is written whole: a 32-bit "%x" of a 64-bit address
    // would keep only its low half, which two live objects may share.
    int written = snprintf(name, size, "%s %llu %s %llx", base, static_cast<unsigned long long>(GetTickCount64()),
                           host, static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(unique)));
    return written > 0 && static_cast<size_t>(written) < size;
}

namespace {

/* Leaves the reason why a run's window could not be made in the
 * thread's last error. The platform gives none when a hook vetoed the
 * window or when Wine has no window driver (no display and no
 * Graphics=null); the caller still gets a non-zero reason. */
void KeepWindowError(DWORD error) {
    SetLastError(error != 0 ? error : kNoWindowError);
}

/* The window property under which a run's window finds its run. */
constexpr char kRunProperty[] = "OrvHiddenWindowRun";

/* The thread message that wakes a run's loop when its window is gone.
 * Registered, so that no caller's message and no message of the
 * platform's own loops shares its number. */
UINT RunEndedMessage() {
    static const UINT registered = RegisterWindowMessageA("OrvHiddenWindowRunEnded");
    // Should the atom table be full, the top of the application range:
    // never 0, whose filter would take every thread message.
    return registered != 0 ? registered : 0xBFFF;
}

/* One run, on the stack of RunHiddenWindow. */
struct Run {
    bool caller_quit = false;  // a quit of the caller's came during the run
    WPARAM quit_code = 0;      // its exit code; the platform's last one wins

    void NoteQuit(WPARAM code) {
        caller_quit = true;
        quit_code = code;
    }
    /* Takes the wake-ups still queued out, and posts the caller's quit
     * again. A wake-up is needed only by the loop that waits in
     * GetMessageA, the innermost one; a run further up the caller's stack
     * (whose window procedure started this one) checks its window before
     * it waits again, so a wake-up of its own taken here costs it nothing. */
    void End() {
        MSG pending;
        // Thread messages only (hwnd -1), of this one number; a finite
        // queue. The platform hands out a pending WM_QUIT whatever the
        // filter: it is the caller's, and is posted again below.
        while (PeekMessageA(&pending, reinterpret_cast<HWND>(-1), RunEndedMessage(), RunEndedMessage(), PM_REMOVE)) {
            if (pending.message == WM_QUIT)
                NoteQuit(pending.wParam);
        }
        if (caller_quit)
            PostQuitMessage(static_cast<int>(quit_code));
    }
};

}  // namespace

bool RunHiddenWindow(HINSTANCE instance, const char* class_name, DWORD style, void* param) {
    SetLastError(0);  // a failure that gives no reason must not show an older one
    HWND window = CreateWindowExA(0, class_name, "", style, 0, 0, kWindowWidth, kWindowHeight,
                                  nullptr, nullptr, instance, param);
    if (window == nullptr) {
        KeepWindowError(GetLastError());
        return false;
    }
    Run run;
    if (!SetPropA(window, kRunProperty, &run)) {
        DWORD error = GetLastError();
        DestroyWindow(window);  // without the property it posts no wake-up
        KeepWindowError(error);
        return false;
    }
    ShowWindow(window, SW_HIDE);

    MSG message;
    while (IsWindow(window)) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1) {
            // Only for a bad filter window, which this loop never passes.
            DestroyWindow(window);
            break;
        }
        if (got == 0) {
            run.NoteQuit(message.wParam);  // the caller's: the run never posts one
            continue;
        }
        if (message.hwnd == nullptr && message.message == RunEndedMessage())
            continue;  // a wake-up: the loop's condition tells whose window is gone
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    run.End();
    return true;
}

void PostRunEnd(HWND window) {
    if (RemovePropA(window, kRunProperty) == nullptr)
        return;  // no run waits for this window
    PostThreadMessageA(GetCurrentThreadId(), RunEndedMessage(), 0, 0);
}

void ArmRunTimer(HWND window, UINT ms) {
    if (SetTimer(window, kRunTimer, ms, nullptr) == 0)
        PostMessageA(window, WM_CLOSE, 0, 0);
}

void* AttachCreateParam(HWND window, LPARAM lparam) {
    void* param = reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(param));
    return param;
}

void* AttachedParam(HWND window) {
    return reinterpret_cast<void*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

}  // namespace orv
