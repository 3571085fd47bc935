// The printer check in the test process against Wine's spooler: a ready
// printer, and the two cases Wine's spooler cannot produce, a paused
// printer (Wine reports every printer's status as 0) and a job that is
// printing (Wine's EnumJobs lists none), for which the spooler calls are
// wrapped.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <atomic>

#include "printer_check.h"
#include "program_rig.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

std::vector<DWORD> g_pauses;
std::vector<size_t> g_pauses_at_close;  // the pauses made before each close of a printer
std::atomic<int> g_closes{0};

BOOL WINAPI NotedClosePrinter(HANDLE printer) {
    g_pauses_at_close.push_back(g_pauses.size());
    ++g_closes;
    return ClosePrinter(printer);
}

void WINAPI RecordPause(DWORD ms) { g_pauses.push_back(ms); }

BOOL WINAPI PausedPrinters(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                           LPDWORD returned) {
    if (!EnumPrintersA(flags, name, level, buffer, size, needed, returned))
        return FALSE;
    auto* printers = reinterpret_cast<PRINTER_INFO_2A*>(buffer);
    for (DWORD i = 0; i < *returned; ++i)
        printers[i].Status |= PRINTER_STATUS_PAUSED;
    return TRUE;
}

BOOL WINAPI FailingJobScan(HANDLE, DWORD, DWORD, DWORD, LPBYTE, DWORD, LPDWORD needed, LPDWORD returned) {
    *needed = *returned = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL WINAPI OnePrintingJob(HANDLE, DWORD first, DWORD, DWORD, LPBYTE buffer, DWORD size, LPDWORD needed,
                           LPDWORD returned) {
    *needed = sizeof(JOB_INFO_1A);
    *returned = 0;
    if (first > 0)
        return TRUE;
    if (size < sizeof(JOB_INFO_1A)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1A job = {};
    job.JobId = 7;
    job.Status = JOB_STATUS_PRINTING;
    memcpy(buffer, &job, sizeof job);
    *returned = 1;
    return TRUE;
}

class PrinterCheck : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_calls_ = g_spooler_calls;
        saved_mode_ = g_run_mode;
        g_run_mode = LocalModeSettings();
        g_spooler_calls.pause = RecordPause;
        g_spooler_calls.close_printer = NotedClosePrinter;
        g_pauses.clear();
        ASSERT_EQ(InitialiseStatusRecord(), 1);
        ASSERT_TRUE(spooler_.Add({"ORV Test", "LPT1:", "ORV orv2100", PRINTER_ATTRIBUTE_ENABLE_BIDI}));
        spooler_.SetDefault("ORV Test", "LPT1:");
    }
    void TearDown() override {
        g_spooler_calls = saved_calls_;
        g_run_mode = saved_mode_;
        g_printer_check_running = 0;
    }

    SpoolerRig spooler_;
    SpoolerCalls saved_calls_{};
    RunMode saved_mode_{};
};

/* The message boxes wait for the user; the printer is closed before
 * one shows. */
TEST_F(PrinterCheck, AReadyPrinterGetsTheWakeUpJobUnlessAJobPrintsAndAPausedOneIsReported) {
    const struct {
        const char* what;
        decltype(SpoolerCalls::enum_printers) enum_printers;
        decltype(SpoolerCalls::enum_jobs) enum_jobs;
        int verdict;
        std::vector<std::string> boxes;
        const char* code;               // ERR_CODE after the check
        std::vector<DWORD> pauses;      // the wait for the language monitor's answer
        std::string job;                // what reached the printer
    } cases[] = {
        {"ready", EnumPrintersA, EnumJobsA, kCheckReady, {}, "100", {2000}, std::string(15, '\0')},
        {"paused", PausedPrinters, EnumJobsA, kCheckReported,
         {Sjis("プリンターは一時停止状態です。\n\n[プリンター]フォルダーを開いて、一時停止を解除してください。")}, "0",
         {}, ""},
        {"a job printing", EnumPrintersA, OnePrintingJob, kCheckReady, {}, "100", {2000}, ""},
        {"the job scan fails", EnumPrintersA, FailingJobScan, kCheckFatal,
         {Sjis("プリンター（ドライバ）情報取得に失敗しました。\nError : EnumJobs\n\nプログラムを終了します。")}, "302",
         {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(SetRecordString(kErrCode, "302"), ERROR_SUCCESS);
        ASSERT_TRUE(spooler_.CapturePort("LPT1:"));
        std::unique_ptr<MonitorState> state = NewMonitorState(GetModuleHandleA(nullptr));
        g_spooler_calls.enum_printers = c.enum_printers;
        g_spooler_calls.enum_jobs = c.enum_jobs;
        g_pauses.clear();
        g_pauses_at_close.clear();
        g_closes = 0;
        g_printer_check_running = 0;
        std::vector<int> closes_at_box;
        EXPECT_EQ(CloseMessageBoxesDuring([&] { EXPECT_EQ(CheckPrinter(*state), c.verdict); },
                                          [&] { closes_at_box.push_back(g_closes); }),
                  c.boxes);
        EXPECT_EQ(closes_at_box, std::vector<int>(c.boxes.size(), 1));
        EXPECT_EQ(g_printer_check_running, 1);  // the caller clears it
        EXPECT_EQ(RecordText(kErrCode), c.code);
        if (c.verdict == kCheckReady) {
            EXPECT_EQ(state->current_code, 100);
            EXPECT_EQ(state->previous_code, 100);
        }
        EXPECT_EQ(g_pauses, c.pauses);
        EXPECT_EQ(g_pauses_at_close, std::vector<size_t>{0}) << "the printer is closed once, before the pause";
        EXPECT_TRUE(WaitFor([&] { return spooler_.JobBytes() == c.job; }, 3000)) << spooler_.JobBytes().size();
        Sleep(300);  // nothing more comes
        EXPECT_EQ(spooler_.JobBytes(), c.job);
    }
}

}  // namespace
