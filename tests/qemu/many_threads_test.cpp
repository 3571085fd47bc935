// A 32-bit process that has created 10 000 threads still gives each new
// thread segments of its own: after them, four threads and the main thread
// write debug output at once (the call that crashed when two threads
// shared a TLS descriptor under QEMU), and the process ends normally.
#include <gtest/gtest.h>

#include <windows.h>

namespace {

constexpr int kThreads = 10000;
constexpr int kCreators = 8;  // the threads are made by several at once
constexpr int kChatters = 4;
constexpr int kLinesEach = 1000;

DWORD WINAPI Nothing(void*) { return 0; }

DWORD WINAPI Create(void* made) {
    for (int i = 0; i < kThreads / kCreators; ++i) {
        HANDLE thread = CreateThread(nullptr, 64 * 1024, Nothing, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (thread == nullptr)
            return 1;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        InterlockedIncrement(static_cast<volatile LONG*>(made));
    }
    return 0;
}

/* All at once, once the main thread lets them go. */
DWORD WINAPI Chatter(void* go) {
    if (go != nullptr)
        WaitForSingleObject(go, INFINITE);
    for (int i = 0; i < kLinesEach; ++i)
        OutputDebugStringA("orv threads: a line of debug output\n");
    return 0;
}

void RunAll(LPTHREAD_START_ROUTINE routine, void* argument, int count) {
    HANDLE threads[kCreators];
    for (int i = 0; i < count; ++i) {
        threads[i] = CreateThread(nullptr, 0, routine, argument, 0, nullptr);
        ASSERT_NE(threads[i], nullptr);
    }
    if (routine == Chatter) {
        SetEvent(argument);
        Chatter(nullptr);
    }
    ASSERT_EQ(WaitForMultipleObjects(count, threads, TRUE, 300000), WAIT_OBJECT_0);
    for (int i = 0; i < count; ++i)
        CloseHandle(threads[i]);
}

TEST(EmulatedThreads, TenThousandThreadsLaterTheConcurrentDebugOutputStillWorks) {
    volatile LONG made = 0;
    RunAll(Create, const_cast<LONG*>(&made), kCreators);
    ASSERT_EQ(made, kThreads);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(go, nullptr);
    RunAll(Chatter, go, kChatters);
    CloseHandle(go);
}

}  // namespace
