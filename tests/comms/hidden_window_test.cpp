// The hidden-window run shared by the status exchange, the search window
// and the connect probe: class lifetime, the loop's end, and the caller's
// own windows and quit message during a run.
#include <gtest/gtest.h>

#include "hidden_window.h"

namespace {

using orv::AttachCreateParam;
using orv::AttachedParam;

constexpr UINT_PTR kRunTimer = 1;
constexpr UINT_PTR kCallerTimer = 7;
constexpr UINT kEndRun = WM_APP;  // a posted end, like a socket notification

struct RunState {
    UINT timer_ms;        // when timer 1 ends the run
    int quit_to_post;     // >= 0: the run posts a quit of the caller's first
    int timer_messages;   // the run's own WM_TIMER count
};

LRESULT CALLBACK RunProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE: {
        auto* run = static_cast<RunState*>(AttachCreateParam(window, lparam));
        if (run->quit_to_post >= 0)
            PostQuitMessage(run->quit_to_post);  // as a caller's code would
        SetTimer(window, kRunTimer, run->timer_ms, nullptr);
        return 0;
    }
    case WM_TIMER:
        static_cast<RunState*>(AttachedParam(window))->timer_messages++;
        KillTimer(window, kRunTimer);
        DestroyWindow(window);
        return 0;
    case kEndRun:
        KillTimer(window, kRunTimer);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int g_caller_ticks = 0;
LRESULT CALLBACK CallerProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_TIMER && wparam == kCallerTimer)
        ++g_caller_ticks;
    return DefWindowProcA(window, message, wparam, lparam);
}

HINSTANCE Instance() {
    return GetModuleHandleA(nullptr);
}

TEST(HiddenWindow, ClassLivesForItsScopeOnly) {
    const char name[] = "OrvHiddenWindowTest scope";
    {
        orv::ScopedHiddenClass scoped(Instance(), name, RunProcedure);
        ASSERT_TRUE(scoped.registered());
        EXPECT_FALSE(orv::RegisterHiddenClass(Instance(), name, RunProcedure));
    }
    ASSERT_TRUE(orv::RegisterHiddenClass(Instance(), name, RunProcedure));
    EXPECT_TRUE(orv::UnregisterHiddenClass(Instance(), name));
}

TEST(HiddenWindow, UnknownClassRunsNoLoop) {
    RunState run = {1, -1, 0};
    EXPECT_FALSE(orv::RunHiddenWindow(Instance(), "OrvHiddenWindowTest none", orv::kHiddenWindowStyle, &run));
    EXPECT_EQ(run.timer_messages, 0);
}

TEST(HiddenWindow, CallerWindowsKeepTheirMessagesAndTheirQuitDuringARun) {
    const char name[] = "OrvHiddenWindowTest caller";
    const char caller_name[] = "OrvHiddenWindowTest caller window";
    orv::ScopedHiddenClass run_class(Instance(), name, RunProcedure);
    orv::ScopedHiddenClass caller_class(Instance(), caller_name, CallerProcedure);
    ASSERT_TRUE(run_class.registered() && caller_class.registered());
    HWND caller = CreateWindowExA(0, caller_name, "", 0, 0, 0, 10, 10, nullptr, nullptr, Instance(), nullptr);
    ASSERT_NE(caller, nullptr);
    SetTimer(caller, kCallerTimer, 20, nullptr);

    RunState run = {400, 42, 0};
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(orv::RunHiddenWindow(Instance(), name, orv::kHiddenWindowClipStyle, &run));
    ULONGLONG elapsed = GetTickCount64() - start;

    EXPECT_EQ(run.timer_messages, 1);
    EXPECT_GE(elapsed, 350u) << "the caller's quit ended the run early";
    EXPECT_GE(g_caller_ticks, 3) << "the caller's timer was not dispatched during the run";

    // The caller's quit comes back after the run, with its exit code.
    KillTimer(caller, kCallerTimer);
    DestroyWindow(caller);
    MSG message;
    bool quit_seen = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit_seen = true;
            EXPECT_EQ(message.wParam, 42u);
        }
    }
    EXPECT_TRUE(quit_seen);
}

// The caller quits and the run's end is already queued: the platform
// keeps one quit per thread, so the run's own quit must not swallow the
// caller's.
HWND g_run_window = nullptr;
void CALLBACK QuitAndEndRun(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    PostQuitMessage(42);
    PostMessageA(g_run_window, kEndRun, 0, 0);
}

LRESULT CALLBACK EndOnPostProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CREATE) {
        g_run_window = window;
        SetTimer(nullptr, 0, 50, QuitAndEndRun);
        SetTimer(window, kRunTimer, 5000, nullptr);
        return 0;
    }
    return RunProcedure(window, message, wparam, lparam);
}

TEST(HiddenWindow, CallerQuitPendingWhenTheRunEndsIsKept) {
    const char name[] = "OrvHiddenWindowTest pending quit";
    orv::ScopedHiddenClass run_class(Instance(), name, EndOnPostProcedure);
    ASSERT_TRUE(run_class.registered());
    RunState run = {5000, -1, 0};
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(orv::RunHiddenWindow(Instance(), name, orv::kHiddenWindowStyle, &run));
    EXPECT_LT(GetTickCount64() - start, 4000u) << "the posted end did not end the run";
    MSG message;
    bool quit_seen = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit_seen = true;
            EXPECT_EQ(message.wParam, 42u);
        }
    }
    EXPECT_TRUE(quit_seen) << "the caller's quit was lost";
}

// The run ends with another message still queued behind its window's
// end: the run must end at once and take its own quit along (the queued
// message may stay for the caller's loop).
constexpr UINT kQueuedAfterEnd = WM_APP + 5;
bool g_watchdog_fired = false;
void CALLBACK Watchdog(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    g_watchdog_fired = true;
    PostQuitMessage(99);  // ends a loop that waits for a quit that never comes
}

LRESULT CALLBACK EndWithMessageQueuedProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CREATE) {
        PostMessageA(window, kEndRun, 0, 0);
        return 0;
    }
    if (message == kEndRun) {
        PostThreadMessageA(GetCurrentThreadId(), kQueuedAfterEnd, 0, 0);
        DestroyWindow(window);
        return 0;
    }
    return RunProcedure(window, message, wparam, lparam);
}

TEST(HiddenWindow, RunEndsAtOnceWithAMessageQueuedBehindItsEnd) {
    const char name[] = "OrvHiddenWindowTest queued";
    orv::ScopedHiddenClass run_class(Instance(), name, EndWithMessageQueuedProcedure);
    ASSERT_TRUE(run_class.registered());
    UINT_PTR watchdog = SetTimer(nullptr, 0, 3000, Watchdog);
    RunState run = {5000, -1, 0};
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(orv::RunHiddenWindow(Instance(), name, orv::kHiddenWindowStyle, &run));
    EXPECT_LT(GetTickCount64() - start, 2000u);
    EXPECT_FALSE(g_watchdog_fired) << "the run waited for a quit it had taken away itself";
    KillTimer(nullptr, watchdog);
    MSG message;
    bool quit_seen = false;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        quit_seen = quit_seen || message.message == WM_QUIT;
    EXPECT_FALSE(quit_seen) << "the run's own quit was left to the caller";
}

TEST(HiddenWindow, ManyRunsInARowKeepRegisteringAndEnding) {
    for (int i = 0; i < 50; ++i) {
        char name[64];
        snprintf(name, sizeof name, "OrvHiddenWindowTest %d", i);
        orv::ScopedHiddenClass scoped(Instance(), name, RunProcedure);
        ASSERT_TRUE(scoped.registered()) << i;
        RunState run = {1, -1, 0};
        ASSERT_TRUE(orv::RunHiddenWindow(Instance(), name, orv::kHiddenWindowStyle, &run)) << i;
        ASSERT_EQ(run.timer_messages, 1) << i;
    }
}

}  // namespace
