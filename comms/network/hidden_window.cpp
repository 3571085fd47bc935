/*
 * hidden_window.cpp - the class, window and message loop shared by the
 * status exchange, the search window and the connect probe.
 *
 * The loop runs on the caller's thread and dispatches the messages of all
 * its windows, so a caller's own windows stay alive while a run waits. It
 * ends once the run's own window is gone, taking along the quit message
 * that the window posted when it was destroyed, even when other messages
 * are still queued before that quit (they stay for the caller's loop); a
 * quit posted by the caller's code meanwhile is handed back to the caller
 * after the run instead of cutting the run short. The window's procedure
 * posts the run's quit through PostRunQuit, which knows the run (a window
 * property) and so tells the two quits apart also when the window is
 * destroyed from another thread.
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

/* A quit of the caller's, noted during a run; the platform's last exit
 * code wins. */
struct CallerQuit {
    bool seen = false;
    WPARAM exit_code = 0;

    void Note(WPARAM code) {
        seen = true;
        exit_code = code;
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
    CallerQuit caller_quit;
    if (!SetPropA(window, kRunProperty, &caller_quit)) {
        DWORD error = GetLastError();
        DestroyWindow(window);  // without the property it posts no quit
        KeepWindowError(error);
        return false;
    }
    ShowWindow(window, SW_HIDE);

    bool own_quit_taken = false;
    MSG message;
    while (IsWindow(window)) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1) {
            // Only for a bad filter window, which this loop never passes.
            // The window goes without its property, so it posts no quit
            // of its own, and none is to be taken out below.
            RemovePropA(window, kRunProperty);
            DestroyWindow(window);
            own_quit_taken = true;
            break;
        }
        if (got == 0) {
            // While the window exists the quit is the caller's. Once it is
            // gone (destroyed by a message sent from another thread, which
            // GetMessageA handles before it returns), it is the window's
            // own; a caller's quit pending then was noted by PostRunQuit.
            if (IsWindow(window))
                caller_quit.Note(message.wParam);
            else
                own_quit_taken = true;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The window is gone, and its procedure posted the run's own quit,
    // which may still wait behind other messages: take it out here.
    if (!own_quit_taken) {
        MSG own_quit;
        PeekMessageA(&own_quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    if (caller_quit.seen)
        PostQuitMessage(static_cast<int>(caller_quit.exit_code));
    return true;
}

void PostRunQuit(HWND window) {
    auto* caller_quit = static_cast<CallerQuit*>(RemovePropA(window, kRunProperty));
    if (caller_quit == nullptr)
        return;  // no run waits for this window
    // The platform keeps one quit flag per thread: a quit of the caller's
    // still pending would merge with the run's own and be lost with it.
    MSG pending;
    if (PeekMessageA(&pending, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        caller_quit->Note(pending.wParam);
    PostQuitMessage(0);
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
