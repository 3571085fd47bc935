// The printer check in the test process against Wine's spooler, for the
// two cases Wine's spooler cannot produce: a paused printer (Wine reports
// every printer's status as 0) and a job that is printing (Wine's EnumJobs
// lists none). The spooler calls are wrapped for exactly those answers.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include "printer_check.h"
#include "program_rig.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

std::vector<DWORD> g_pauses;

BOOL WINAPI PausedPrinters(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                           LPDWORD returned) {
    if (!EnumPrintersA(flags, name, level, buffer, size, needed, returned))
        return FALSE;
    auto* printers = reinterpret_cast<PRINTER_INFO_2A*>(buffer);
    for (DWORD i = 0; i < *returned; ++i)
        printers[i].Status |= PRINTER_STATUS_PAUSED;
    return TRUE;
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
        g_spooler_calls.pause = [](DWORD ms) { g_pauses.push_back(ms); };
        g_pauses.clear();
        ASSERT_EQ(InitialiseStatusRecord(), 1);
        ASSERT_EQ(SetRecordString(kErrCode, "302"), ERROR_SUCCESS);
        state_ = NewMonitorState(GetModuleHandleA(nullptr));
        ASSERT_TRUE(state_);
        ASSERT_TRUE(spooler_.Add({"ORV Test", "LPT1:", "ORV orv2100", kBidirectional}));
        spooler_.SetDefault("ORV Test", "LPT1:");
        ASSERT_TRUE(spooler_.CapturePort("LPT1:"));
    }
    void TearDown() override {
        g_spooler_calls = saved_calls_;
        g_run_mode = saved_mode_;
        g_printer_check_running = 0;
    }

    SpoolerRig spooler_;
    std::unique_ptr<MonitorState> state_;
    SpoolerCalls saved_calls_{};
    RunMode saved_mode_{};
};

TEST_F(PrinterCheck, AReadyPrinterGetsTheWakeUpJobAndTheRecordFetchingInformation) {
    MessageBoxWatcher boxes;
    EXPECT_EQ(CheckPrinter(*state_), kCheckReady);
    EXPECT_EQ(g_printer_check_running, 1);  // the caller clears it
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(RecordText(kErrCode), "100");
    EXPECT_EQ(state_->current_code, 100);
    EXPECT_EQ(state_->previous_code, 100);
    EXPECT_TRUE(WaitFor([&] { return spooler_.JobBytes() == std::string(15, '\0'); }, 3000));
    EXPECT_EQ(g_pauses, std::vector<DWORD>{2000});
}

TEST_F(PrinterCheck, APausedPrinterIsReportedAndTheRecordSetToReady) {
    g_spooler_calls.enum_printers = PausedPrinters;
    MessageBoxWatcher boxes;
    EXPECT_EQ(CheckPrinter(*state_), kCheckReported);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{Sjis(
        "プリンターは一時停止状態です。\n\n[プリンター]フォルダーを開いて、一時停止を解除してください。")});
    EXPECT_EQ(RecordText(kErrCode), "0");
    EXPECT_TRUE(g_pauses.empty());
    Sleep(300);
    EXPECT_TRUE(spooler_.JobBytes().empty());
}

TEST_F(PrinterCheck, APrintingJobTakesThePlaceOfTheWakeUpJob) {
    g_spooler_calls.enum_jobs = OnePrintingJob;
    MessageBoxWatcher boxes;
    EXPECT_EQ(CheckPrinter(*state_), kCheckReady);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_EQ(RecordText(kErrCode), "100");
    EXPECT_EQ(state_->current_code, 100);
    EXPECT_EQ(state_->previous_code, 100);
    EXPECT_EQ(g_pauses, std::vector<DWORD>{2000});
    Sleep(300);
    EXPECT_TRUE(spooler_.JobBytes().empty());
}

}  // namespace
