/*
 * hidden_window.h - the private message loop of the library's waiting
 * operations: the status exchange, the ICMP-broadcast search and the
 * connect probe. Each registers a window class under a run-unique name,
 * creates a hidden 320 x 24 window of it on the caller's thread and runs
 * that thread's message loop until its window procedure destroys the
 * window (from a socket notification or timer 1). The users supply only
 * the class name, the style and the window procedure; this file does the
 * rest once.
 */
#ifndef ORVCOMMS_HIDDEN_WINDOW_H
#define ORVCOMMS_HIDDEN_WINDOW_H

#include <windows.h>

#include <cstddef>

namespace orv {

/* Registers a class named `class_name` for `instance` with `procedure`:
 * style 0, no extra bytes, no icon, cursor, brush or menu. FALSE when the
 * platform refuses (for example a name already registered). */
BOOL RegisterHiddenClass(HINSTANCE instance, const char* class_name, WNDPROC procedure);

/* UnregisterClassA's own result. */
BOOL UnregisterHiddenClass(HINSTANCE instance, const char* class_name);

/* Writes "<base> <tick> <host> <unique>" into `name` (`size` bytes): the
 * tick count, and the address `unique` of an object that lives as long as
 * the class, which tells apart the classes of one host made in the same
 * millisecond. False when the name does not fit. */
bool FormatRunClassName(char* name, size_t size, const char* base, const char* host, const void* unique);

/* A class registered for the length of one run, unregistered when the
 * object goes out of scope (the search window and the connect probe). */
class ScopedHiddenClass {
  public:
    ScopedHiddenClass(HINSTANCE instance, const char* class_name, WNDPROC procedure)
        : instance_(instance), class_name_(class_name),
          registered_(RegisterHiddenClass(instance, class_name, procedure)),
          error_(registered_ ? 0 : GetLastError()) {}
    ~ScopedHiddenClass() { UnregisterHiddenClass(instance_, class_name_); }
    ScopedHiddenClass(const ScopedHiddenClass&) = delete;
    ScopedHiddenClass& operator=(const ScopedHiddenClass&) = delete;

    bool registered() const { return registered_ != FALSE; }
    /* The platform's error when the class was not registered, else 0. */
    DWORD error() const { return error_; }

  private:
    HINSTANCE instance_;
    const char* class_name_;  // the caller's buffer; outlives this object
    BOOL registered_;
    DWORD error_;
};

/* Keeps the thread's last error across the work of a WM_CREATE handler.
 * Wine without a window driver fails CreateWindowExA after WM_CREATE has
 * run, and gives no reason of its own: the last error must then not be
 * what the handler's socket calls left behind. */
class LastErrorKept {
  public:
    LastErrorKept() : error_(GetLastError()) {}
    ~LastErrorKept() { SetLastError(error_); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

  private:
    DWORD error_;
};

/* Window styles of the three users. */
constexpr DWORD kHiddenWindowStyle = WS_OVERLAPPEDWINDOW;
constexpr DWORD kHiddenWindowClipStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

/* Creates the hidden window (empty title, `style`, at 0,0, 320 x 24, no
 * parent or menu, `param` as the creation parameter), hides it and runs
 * the calling thread's message loop, dispatching the messages of every
 * window of the thread, until the window is gone. False, with no loop
 * run, when the window cannot be created; the thread's last error then
 * holds the platform's reason, never 0. The window's WM_CREATE may have
 * run all the same (Wine without a window driver) and received no
 * WM_DESTROY: the caller releases what it made.
 *
 * The run posts no quit message, so a modal loop that a caller's window
 * procedure runs meanwhile (a message box) is not ended by the run's end.
 * A quit posted by the caller's own code during the run does not end the
 * run; it is posted again, with its exit code, once the run has ended, so
 * the caller's loop sees it exactly once. */
bool RunHiddenWindow(HINSTANCE instance, const char* class_name, DWORD style, void* param);

/* For WM_DESTROY of a run's window: wakes the run's loop, should it be
 * waiting for a message, so that it sees the window gone. */
void PostRunEnd(HWND window);

/* Timer 1 of a run's window: its WM_TIMER ends the run. */
constexpr UINT_PTR kRunTimer = 1;

/* Starts (or restarts) timer 1 of `window` with `ms`. When the platform
 * has no timer left to give, the window is closed instead (WM_CLOSE): the
 * run ends at once, without the work of its timer, with the outcome its
 * procedure has recorded so far, rather than waiting for ever. */
void ArmRunTimer(HWND window, UINT ms);

/* For WM_CREATE: keeps the creation parameter as the window's user data
 * and returns it. */
void* AttachCreateParam(HWND window, LPARAM lparam);

/* The user data attached by AttachCreateParam (nullptr before it). */
void* AttachedParam(HWND window);

}  // namespace orv

#endif  // ORVCOMMS_HIDDEN_WINDOW_H
