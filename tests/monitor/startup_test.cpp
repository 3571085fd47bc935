// Start-up and printer detection in the test process: the run mode by
// system version, the single-instance lock (under a private name), and
// the spooler enumerations where Wine's spooler cannot give the case: a
// spooler that is not running, and a queue with jobs (Wine's EnumJobs
// lists none).
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <optional>
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
    const struct {
        SystemFacts facts;
        ModeChoice choice;
    } cases[] = {
        {{false, 2, 5, false, false, 0}, ModeChoice::kEnd},    // no version
        {{true, 0, 3, false, false, 0}, ModeChoice::kEnd},     // Win32s
        {{true, 1, 4, false, false, 0}, ModeChoice::kLocal},   // the 9x family
        {{true, 1, 4, true, false, 0}, ModeChoice::kLocal},
        {{true, 2, 4, false, false, 0}, ModeChoice::kLocal},   // NT 4
        {{true, 2, 5, false, false, 0}, ModeChoice::kLocal},   // 2000, XP, Server 2003
        {{true, 2, 5, true, false, 0}, ModeChoice::kGlobal},   // 32-bit on 64-bit XP
        {{true, 2, 4, true, false, 0}, ModeChoice::kGlobal},
        {{true, 2, 3, false, false, 0}, ModeChoice::kGlobal},  // NT 3.x
        {{true, 2, 6, false, false, 0}, ModeChoice::kGlobal},  // Vista and later
        {{true, 2, 10, true, false, 0}, ModeChoice::kGlobal},
        {{true, 3, 6, false, false, 0}, ModeChoice::kLocal},   // any other platform
        // Session 0 has no user's desktop from Vista on; on XP it is the
        // console user's.
        {{true, 2, 6, false, true, 0}, ModeChoice::kEnd},
        {{true, 2, 10, true, true, 1}, ModeChoice::kGlobal},
        {{true, 2, 5, false, true, 0}, ModeChoice::kLocal},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseRunMode(c.facts), c.choice)
            << "platform " << c.facts.platform_id << " major " << c.facts.major_version << " wow64 "
            << c.facts.under_wow64 << " session " << (c.facts.session_known ? int(c.facts.session_id) : -1);
    // The system here answers the query: an NT system, under which the
    // 32-bit test program runs under WOW64 and the 64-bit one does not,
    // and a user's session.
    SystemFacts here = QuerySystemFacts();
    EXPECT_TRUE(here.version_known);
    EXPECT_EQ(here.platform_id, 2u);
    EXPECT_EQ(here.under_wow64, sizeof(void*) == 4);
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_TRUE(here.session_known);
    EXPECT_EQ(here.session_id, session);
    EXPECT_NE(here.session_id, 0u);
}


/* Whether another thread takes the lock `name`; how long it tried goes
 * to *took_ms. */
bool AcquiredElsewhere(const std::string& name, DWORD* took_ms) {
    bool acquired = false;
    std::thread([&] {
        DWORD start = GetTickCount();
        InstanceLock lock;
        acquired = lock.Acquire(name.c_str());
        *took_ms = GetTickCount() - start;
    }).join();
    return acquired;
}

TEST(InstanceLock, TakesOverADeadMonitorsMutexHoldsItFiftyTriesLongAndFreesIt) {
    const std::string name = "orv-test-instance-" + std::to_string(GetCurrentProcessId());
    // A monitor that died holding the mutex left it abandoned.
    std::thread([&] { CreateMutexA(nullptr, TRUE, name.c_str()); }).join();
    InstanceLock lock;
    ASSERT_TRUE(lock.Acquire(name.c_str()));
    DWORD took = 0;
    EXPECT_FALSE(AcquiredElsewhere(name, &took));
    EXPECT_GE(took, 1200u);  // 50 tries 30 ms apart
    EXPECT_LE(took, 6000u);
    lock.Release();
    EXPECT_TRUE(AcquiredElsewhere(name, &took));
}

TEST(InstanceLock, GivesUpAfterOneAndAHalfSecondsWhenPausesLastLongerThanAsked) {
    const std::string name = "orv-test-instance-clock-" + std::to_string(GetCurrentProcessId());
    InstanceLock holder;
    ASSERT_TRUE(holder.Acquire(name.c_str()));
    WindowsLikeClock clock;
    DWORD took = 0;
    EXPECT_FALSE(AcquiredElsewhere(name, &took));
    // 30 ms asked for, 48 ms taken: 32 pauses, not 50 of them (2.4 s).
    EXPECT_GE(clock.elapsed(), 1500u);
    EXPECT_LT(clock.elapsed(), 1500u + 48);
}

/* --- the spooler stand-ins ---------------------------------------------------- */

/* What the scripted spooler answers, and what it saw. */
struct Script {
    int failures = 0;             // enumerations that fail with RPC_S_SERVER_UNAVAILABLE before one succeeds
    std::vector<DWORD> needed;    // the first calls answer "insufficient buffer" with these sizes
    std::vector<DWORD> jobs;      // the queue: one status word per job, listed
    std::optional<DWORD> jobs_failure;  // else every job call fails with this (0: Wine's silent failure)
    int calls = 0;
    std::vector<DWORD> pauses;
};

Script g_script;

void WINAPI RecordPause(DWORD ms) { g_script.pauses.push_back(ms); }

BOOL WINAPI ScriptedEnumPrinters(DWORD, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD needed, LPDWORD returned) {
    ++g_script.calls;
    *returned = 0;
    *needed = 0;
    if (!g_script.needed.empty()) {
        *needed = g_script.needed.front();
        g_script.needed.erase(g_script.needed.begin());
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (g_script.failures == 0)
        return TRUE;  // no printers
    --g_script.failures;
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return FALSE;
}

BOOL WINAPI ScriptedEnumJobs(HANDLE, DWORD first, DWORD, DWORD, LPBYTE buffer, DWORD size, LPDWORD needed,
                             LPDWORD returned) {
    constexpr DWORD kEntrySize = 4000;  // more than any first guess
    *returned = 0;
    *needed = first < g_script.jobs.size() ? kEntrySize : 0;
    if (g_script.jobs_failure) {
        if (*g_script.jobs_failure != 0)
            SetLastError(*g_script.jobs_failure);
        return FALSE;
    }
    if (first >= g_script.jobs.size())
        return TRUE;
    if (size < kEntrySize) {
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
        g_spooler_calls = {ScriptedEnumPrinters, ScriptedEnumJobs, RecordPause};
    }
    void TearDown() override { g_spooler_calls = saved_; }

    SpoolerCalls saved_{};
};

TEST_F(Spooler, EnumerationWaitsASecondAtATimeSixtyTimesAndGrowsItsBuffer) {
    const std::string failed =
        Sjis("プリンター（ドライバ）情報取得に失敗しました。\nError : EnumPrinters\n\nプログラムを終了します。");
    // A printer that appears between the size query and the next call
    // grows the buffer; a spooler that asks for more without naming a
    // larger size is retried like a failure, so the enumeration cannot
    // loop without end.
    const struct {
        const char* what;
        int failures;
        std::vector<DWORD> needed;
        int result, calls;
        size_t pauses;  // of 1000 ms each
        DWORD capacity;
        std::vector<std::string> boxes;
    } cases[] = {
        {"spooler not running yet", 3, {}, kEnumDone, 4, 3, 0, {}},
        {"spooler never answers", 1000, {}, kEnumFailed, 61, 60, 0, {failed}},
        {"printers appear", 0, {600, 1400, 100}, kEnumDone, 4, 1, 1400, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_script = Script{};
        g_script.failures = c.failures;
        g_script.needed = c.needed;
        LocalBuffer buffer;
        DWORD count = 99;
        std::vector<std::string> boxes =
            CloseMessageBoxesDuring([&] { EXPECT_EQ(EnumeratePrinters(buffer, &count), c.result); });
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(g_script.calls, c.calls);
        EXPECT_EQ(g_script.pauses, std::vector<DWORD>(c.pauses, 1000));
        EXPECT_GE(buffer.capacity(), c.capacity);
        EXPECT_EQ(boxes, c.boxes);
    }
}

TEST_F(Spooler, PrintingJobIsTheFirstJobThatPrintsAndIsNotGoneAndOnlySpoolerErrorsFail) {
    constexpr DWORD kPaused = 0x1, kSpooling = 0x8, kPrinting = 0x10, kDeleting = 0x4, kPrinted = 0x80,
                    kDeleted = 0x100;
    const struct {
        const char* what;
        std::vector<DWORD> jobs;
        std::optional<DWORD> failure;
        int result;
    } cases[] = {
        {"empty queue", {}, {}, 0},
        {"one printing", {kPrinting}, {}, 1},
        {"printing behind others", {kSpooling, kPaused, kPrinting}, {}, 1},
        {"only jobs that are gone", {kPrinting | kDeleted, kPrinting | kDeleting, kPrinting | kPrinted}, {}, 0},
        {"gone, then printing", {kPrinting | kPrinted, kPrinting}, {}, 1},
        {"none printing", {kSpooling, kPaused}, {}, 0},
        {"a spooler error", {kPrinting}, ERROR_INVALID_HANDLE, -1},
        {"Wine's failure without an error", {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        g_script = Script{};
        g_script.jobs = c.jobs;
        g_script.jobs_failure = c.failure;
        EXPECT_EQ(FindPrintingJob(reinterpret_cast<HANDLE>(0x1234)), c.result);
    }
    EXPECT_EQ(FindPrintingJob(nullptr), -1);
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
