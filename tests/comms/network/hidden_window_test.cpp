// The hidden-window run shared by the status exchange, the search window
// and the connect probe: class lifetime, the loop's end, and the caller's
// own windows and quit message during a run, also when another thread
// destroys the run's window.
#include <gtest/gtest.h>

#include <vector>

#include "network/hidden_window.h"

namespace {

constexpr UINT kEndRun = WM_APP;  // a posted end, like a socket notification
constexpr WPARAM kCallerQuit = 42;
constexpr WPARAM kWatchdogQuit = 99;

// What the caller's code and the run's window do during one run.
enum class Script {
    kTimerEnds,               // timer 1 ends the run
    kCallerQuitsAtStart,      // the caller's code quits as the run starts
    kCallerQuitsThenRunEnds,  // the caller's first tick: a quit, and the run's end behind it
    kEndLeavesAMessage,       // the run's end leaves a message of the caller's queued
    kOtherThreadCloses,       // the caller's first tick: another thread sends the run's window WM_CLOSE
    kCallerQuitsThenOtherThreadCloses,  // ... after a quit of the caller's
};

struct RunState {
    Script script;
    UINT timer_ms;
    HWND window;
    int caller_ticks;
} g_run;

LRESULT CALLBACK RunProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        g_run.window = window;
        if (g_run.script == Script::kCallerQuitsAtStart)
            PostQuitMessage(kCallerQuit);
        if (g_run.script == Script::kEndLeavesAMessage)
            PostMessageA(window, kEndRun, 0, 0);
        orv::ArmRunTimer(window, g_run.timer_ms);
        return 0;
    case kEndRun:
        if (g_run.script == Script::kEndLeavesAMessage)
            PostThreadMessageA(GetCurrentThreadId(), WM_APP + 5, 0, 0);
        DestroyWindow(window);
        return 0;
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        orv::PostRunEnd(window);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

/* Another thread's WM_CLOSE: sent, so this thread handles it inside its
 * next GetMessageA, before any posted message or quit. */
DWORD WINAPI CloseFromAnotherThread(void* window) {
    SendNotifyMessageA(static_cast<HWND>(window), WM_CLOSE, 0, 0);
    return 0;
}

void CALLBACK CallerTick(HWND window, UINT, UINT_PTR timer, DWORD) {
    if (++g_run.caller_ticks != 1)
        return;
    if (g_run.script == Script::kCallerQuitsThenRunEnds || g_run.script == Script::kCallerQuitsThenOtherThreadCloses)
        PostQuitMessage(kCallerQuit);
    if (g_run.script == Script::kCallerQuitsThenRunEnds)
        PostMessageA(g_run.window, kEndRun, 0, 0);
    if (g_run.script == Script::kOtherThreadCloses || g_run.script == Script::kCallerQuitsThenOtherThreadCloses) {
        // No more ticks: nothing but the run's own wake-up may end its
        // wait once the window has gone inside GetMessageA.
        KillTimer(window, timer);
        HANDLE thread = CreateThread(nullptr, 0, CloseFromAnotherThread, g_run.window, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

void CALLBACK Watchdog(HWND window, UINT, UINT_PTR timer, DWORD) {
    KillTimer(window, timer);
    PostQuitMessage(kWatchdogQuit);  // wakes a loop that would wait for ever
}

HINSTANCE Instance() {
    return GetModuleHandleA(nullptr);
}

/* The exit codes of the quit messages left in this thread's queue. */
std::vector<WPARAM> TakeQuits() {
    std::vector<WPARAM> quits;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            quits.push_back(message.wParam);
    }
    return quits;
}

TEST(HiddenWindow, CallerWindowsAndQuitsSurviveARun) {
    const char name[] = "OrvHiddenWindowTest run";
    orv::ScopedHiddenClass run_class(Instance(), name, RunProcedure);
    ASSERT_TRUE(run_class.registered());
    const struct {
        Script script;
        UINT timer_ms;
        ULONGLONG min_ms;
        int min_caller_ticks;
        std::vector<WPARAM> quits_after;  // the caller's quit comes back after the run, alone
    } cases[] = {
        {Script::kCallerQuitsAtStart, 400, 350, 3, {kCallerQuit}},
        {Script::kCallerQuitsThenRunEnds, 5000, 0, 1, {kCallerQuit}},
        {Script::kEndLeavesAMessage, 5000, 0, 0, {}},
        {Script::kOtherThreadCloses, 5000, 0, 1, {}},  // the run posts no quit of its own
        {Script::kCallerQuitsThenOtherThreadCloses, 5000, 0, 1, {kCallerQuit}},
    };
    for (const auto& c : cases) {
        const int what = static_cast<int>(c.script);
        HWND caller = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(caller != nullptr && SetTimer(caller, 7, 20, CallerTick) && SetTimer(caller, 8, 3000, Watchdog));
        g_run = {c.script, c.timer_ms, nullptr, 0};
        ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(orv::RunHiddenWindow(Instance(), name, orv::kHiddenWindowClipStyle, nullptr)) << what;
        ULONGLONG elapsed = GetTickCount64() - start;
        DestroyWindow(caller);
        EXPECT_GE(elapsed, c.min_ms) << what << ": the caller's quit ended the run early";
        EXPECT_LE(elapsed, 2500u) << what << ": the run did not end at its end";
        EXPECT_EQ(TakeQuits(), c.quits_after) << what;
        EXPECT_GE(g_run.caller_ticks, c.min_caller_ticks) << what << ": the caller's timer was not dispatched";
    }
}

TEST(HiddenWindow, OneNameServesRunAfterRunAndThenNoMore) {
    const char name[] = "OrvHiddenWindowTest again";
    for (int i = 0; i < 50; ++i) {
        orv::ScopedHiddenClass scoped(Instance(), name, RunProcedure);
        ASSERT_TRUE(scoped.registered()) << "the class of the run before was left registered, " << i;
        g_run = {Script::kTimerEnds, 1, nullptr, 0};
        ASSERT_TRUE(orv::RunHiddenWindow(Instance(), name, orv::kHiddenWindowStyle, nullptr)) << i;
    }
    g_run = {Script::kTimerEnds, 1, nullptr, 0};
    EXPECT_FALSE(orv::RunHiddenWindow(Instance(), name, orv::kHiddenWindowStyle, nullptr));
    EXPECT_EQ(g_run.window, nullptr) << "a window of an unregistered class";
    EXPECT_TRUE(TakeQuits().empty());
}

}  // namespace
