// Start-up and printer detection in the test process: the run mode by
// system version, the single-instance lock (under a private name), and
// the spooler enumerations where Wine's spooler cannot give the case: a
// spooler that is not running, and a queue with jobs (Wine's EnumJobs
// lists none).
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "printer_check.h"
#include "program_rig.h"
#include "rig.h"
#include "startup.h"

using namespace orv;

namespace {

TEST(RunMode, FollowsThePlatformAndVersion) {
    struct Case {
        SystemFacts facts;
        ModeChoice choice;
    };
    const Case cases[] = {
        {{false, 2, 5, false}, ModeChoice::kEnd},    // no version
        {{true, 0, 3, false}, ModeChoice::kEnd},     // Win32s
        {{true, 1, 4, false}, ModeChoice::kLocal},   // the 9x family
        {{true, 1, 4, true}, ModeChoice::kLocal},
        {{true, 2, 4, false}, ModeChoice::kLocal},   // NT 4
        {{true, 2, 5, false}, ModeChoice::kLocal},   // 2000, XP, Server 2003
        {{true, 2, 5, true}, ModeChoice::kGlobal},   // 32-bit on 64-bit XP
        {{true, 2, 4, true}, ModeChoice::kGlobal},
        {{true, 2, 3, false}, ModeChoice::kGlobal},  // NT 3.x
        {{true, 2, 6, false}, ModeChoice::kGlobal},  // Vista and later
        {{true, 2, 10, true}, ModeChoice::kGlobal},
        {{true, 3, 6, false}, ModeChoice::kLocal},   // any other platform
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "platform " << c.facts.platform_id << " major "
                                        << c.facts.major_version << " wow64 " << c.facts.under_wow64);
        EXPECT_EQ(ChooseRunMode(c.facts), c.choice);
    }
}

TEST(RunMode, TheSystemHereAnswersTheVersionQuery) {
    SystemFacts facts = QuerySystemFacts();
    EXPECT_TRUE(facts.version_known);
    EXPECT_EQ(facts.platform_id, 2u);
    EXPECT_FALSE(facts.under_wow64);  // a 64-bit test program
}

/* The single-instance lock, under a name of this test's own. */
class InstanceLockTest : public ::testing::Test {
  protected:
    std::string name_ = "orv-test-instance-" + std::to_string(GetCurrentProcessId());
};

TEST_F(InstanceLockTest, GivesUpAfterFiftyTriesWhileAnotherHoldsItAndTakesItOnceFree) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name_.c_str());
    ASSERT_NE(mutex, nullptr);
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        WaitForSingleObject(mutex, INFINITE);
        SetEvent(held);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(mutex);
    });
    WaitForSingleObject(held, 5000);
    {
        InstanceLock lock;
        DWORD start = GetTickCount();
        EXPECT_FALSE(lock.Acquire(name_.c_str()));
        DWORD took = GetTickCount() - start;
        EXPECT_GE(took, 1200u);  // 50 tries 30 ms apart
        EXPECT_LE(took, 6000u);
    }
    SetEvent(release);
    holder.join();
    InstanceLock lock;
    EXPECT_TRUE(lock.Acquire(name_.c_str()));
    CloseHandle(mutex);
    CloseHandle(held);
    CloseHandle(release);
}

TEST_F(InstanceLockTest, TakesOverAMutexLeftByAMonitorThatDied) {
    std::thread died([&] {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, name_.c_str());
        (void)mutex;  // the thread ends owning it: abandoned
    });
    died.join();
    InstanceLock lock;
    EXPECT_TRUE(lock.Acquire(name_.c_str()));
    // Released at the end: another process may take it.
    lock.Release();
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name_.c_str());
    std::atomic<DWORD> wait{WAIT_FAILED};
    std::thread other([&] { wait = WaitForSingleObject(mutex, 0); ReleaseMutex(mutex); });
    other.join();
    EXPECT_TRUE(wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED);
    CloseHandle(mutex);
}

/* --- the spooler stand-ins ---------------------------------------------------- */

/* What the scripted spooler answers, and what it saw. */
struct Script {
    int failures = 0;             // enumerations that fail before one succeeds
    DWORD error = 0;              // the error of those failures
    std::vector<DWORD> needed;    // the first calls answer "insufficient buffer" with these sizes
    int calls = 0;
    std::vector<DWORD> pauses;
    std::vector<DWORD> jobs;      // the queue: one status word per job
    DWORD job_entry_size = sizeof(JOB_INFO_1A) + 200;
    DWORD jobs_error = 0;         // every job call fails with this (0: Wine's silent failure)
    bool jobs_fail = false;
};

Script g_script;

BOOL WINAPI ScriptedEnumPrinters(DWORD, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD needed, LPDWORD returned) {
    ++g_script.calls;
    *returned = 0;
    if (!g_script.needed.empty()) {
        *needed = g_script.needed.front();
        g_script.needed.erase(g_script.needed.begin());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (g_script.failures > 0) {
        --g_script.failures;
        *needed = 0;
        SetLastError(g_script.error);
        return FALSE;
    }
    *needed = 0;
    return TRUE;  // no printers
}

BOOL WINAPI ScriptedEnumJobs(HANDLE, DWORD first, DWORD, DWORD, LPBYTE buffer, DWORD size, LPDWORD needed,
                             LPDWORD returned) {
    ++g_script.calls;
    *returned = 0;
    if (g_script.jobs_fail) {
        if (g_script.jobs_error != 0)
            SetLastError(g_script.jobs_error);
        return FALSE;
    }
    if (first >= g_script.jobs.size()) {
        *needed = 0;
        return TRUE;
    }
    *needed = g_script.job_entry_size;
    if (size < g_script.job_entry_size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1A entry = {};
    entry.JobId = first + 1;
    entry.Status = g_script.jobs[first];
    memcpy(buffer, &entry, sizeof entry);
    *returned = 1;
    return TRUE;
}

class Spooler : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = g_spooler_calls;
        g_script = Script{};
        g_spooler_calls = {ScriptedEnumPrinters, ScriptedEnumJobs,
                           [](DWORD ms) { g_script.pauses.push_back(ms); }};
    }
    void TearDown() override { g_spooler_calls = saved_; }

    SpoolerCalls saved_{};
};

TEST_F(Spooler, EnumerationWaitsASecondAtATimeForASpoolerThatIsNotRunningYet) {
    g_script.failures = 3;
    g_script.error = RPC_S_SERVER_UNAVAILABLE;
    LocalBuffer buffer;
    DWORD count = 99;
    MessageBoxWatcher boxes;
    EXPECT_EQ(EnumeratePrinters(buffer, &count), kEnumDone);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(g_script.pauses, std::vector<DWORD>(3, 1000));
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(Spooler, EnumerationGivesUpAfterSixtyRetriesWithItsMessage) {
    g_script.failures = 1000;
    g_script.error = RPC_S_SERVER_UNAVAILABLE;
    LocalBuffer buffer;
    DWORD count = 0;
    MessageBoxWatcher boxes;
    EXPECT_EQ(EnumeratePrinters(buffer, &count), kEnumFailed);
    EXPECT_EQ(g_script.calls, 61);
    EXPECT_EQ(g_script.pauses, std::vector<DWORD>(60, 1000));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{
        Sjis("プリンター（ドライバ）情報取得に失敗しました。\nError : EnumPrinters\n\nプログラムを終了します。")});
}

TEST_F(Spooler, EnumerationGrowsItsBufferWhilePrintersAppear) {
    // A printer appears between the size query and the next call; a
    // spooler that asks for more without naming a larger size is retried
    // like a failure, so the enumeration cannot loop without end.
    g_script.needed = {600, 1400, 100};
    LocalBuffer buffer;
    DWORD count = 0;
    EXPECT_EQ(EnumeratePrinters(buffer, &count), kEnumDone);
    EXPECT_GE(buffer.capacity(), 1400u);
    EXPECT_EQ(g_script.calls, 4);
    EXPECT_EQ(g_script.pauses, std::vector<DWORD>(1, 1000));
}

TEST_F(Spooler, PrintingJobIsTheFirstJobThatPrintsAndIsNotGone) {
    constexpr DWORD kPaused = 0x1, kSpooling = 0x8, kPrinting = 0x10, kDeleting = 0x4, kPrinted = 0x80,
                    kDeleted = 0x100;
    struct Case {
        const char* what;
        std::vector<DWORD> jobs;
        int result;
    };
    const Case cases[] = {
        {"empty queue", {}, 0},
        {"one printing", {kPrinting}, 1},
        {"printing behind others", {kSpooling, kPaused, kPrinting}, 1},
        {"only jobs that are gone", {kPrinting | kDeleted, kPrinting | kDeleting, kPrinting | kPrinted}, 0},
        {"gone, then printing", {kPrinting | kPrinted, kPrinting}, 1},
        {"none printing", {kSpooling, kPaused}, 0},
    };
    HANDLE printer = reinterpret_cast<HANDLE>(0x1234);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_script.jobs = c.jobs;
        EXPECT_EQ(FindPrintingJob(printer), c.result);
    }
    g_script.jobs = {kPrinting};
    g_script.job_entry_size = 4000;  // more than a first guess
    EXPECT_EQ(FindPrintingJob(printer), 1);
}

TEST_F(Spooler, JobScanFailsOnSpoolerErrorsButNotOnWinesEmptyAnswer) {
    HANDLE printer = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(FindPrintingJob(nullptr), -1);
    g_script.jobs_fail = true;
    g_script.jobs_error = ERROR_INVALID_HANDLE;
    EXPECT_EQ(FindPrintingJob(printer), -1);
    g_script.jobs_error = 0;  // Wine fails EnumJobs without an error
    EXPECT_EQ(FindPrintingJob(printer), 0);
}

TEST(PrinterNames, OnlyTheFourModelsInFullAndTheLocalParallelAndUsbPorts) {
    for (const char* driver : {"ORV orv2100", "ORV orv2200", "ORV orv2100N", "ORV orv2200N"})
        EXPECT_TRUE(IsSupportedDriver(driver)) << driver;
    for (const char* driver : {"ORV orv2100 ", "orv orv2100", "ORV orv2100NX", "ORV orv210", ""})
        EXPECT_FALSE(IsSupportedDriver(driver)) << driver;
    EXPECT_FALSE(IsSupportedDriver(nullptr));
    for (const char* port : {"LPT0:", "LPT1:", "LPT9:", "LPT10:", "LPT99:", "USB000", "USB001", "USB099"})
        EXPECT_TRUE(IsAcceptedPort(port)) << port;
    for (const char* port : {"LPT1", "LPT01:", "LPT100:", "USB100", "USB01", "usb001", "COM1:", "FILE:",
                             "IP_192.168.0.5", ""})
        EXPECT_FALSE(IsAcceptedPort(port)) << port;
    EXPECT_FALSE(IsAcceptedPort(nullptr));
}

}  // namespace
