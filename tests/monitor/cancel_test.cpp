// The print-cancel request against a stand-in status window and the
// test's own registry: the request, the wait for the language monitor's
// answer (a blank document name), and the window going to the tray.
#include <gtest/gtest.h>

#include <thread>

#include "cancel.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

std::string StoredCancelRequest() {
    char text[64] = {};
    DWORD size = sizeof text;
    RegGetValueA(HKEY_LOCAL_MACHINE, kRecordPath, kLmJobCancel, RRF_RT_REG_SZ, nullptr, text, &size);
    return text;
}

/* A top-level window served by a thread of its own, as the status window
 * stands for the user: the request blocks the test's thread for seconds,
 * and a window that stopped answering would hold up other programs'
 * window changes meanwhile. */
class ServedWindow {
  public:
    ServedWindow() {
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this, ready] {
            window_ = CreateWindowA("STATIC", "cancel test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                    nullptr, nullptr, nullptr);
            thread_id_ = GetCurrentThreadId();
            SetEvent(ready);
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0)
                DispatchMessageA(&message);
            DestroyWindow(window_);
        });
        WaitForSingleObject(ready, 5000);
        CloseHandle(ready);
    }
    ~ServedWindow() {
        PostThreadMessageA(thread_id_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND get() const { return window_; }

  private:
    std::thread thread_;
    HWND window_ = nullptr;
    DWORD thread_id_ = 0;
};

class Cancel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig_.ok());
        ASSERT_NE(window_.get(), nullptr);
    }
    /* Runs the request; returns its wall time in ms. */
    DWORD Run() {
        DWORD start = GetTickCount();
        RequestCancel(window_.get(), rig_.state());
        return GetTickCount() - start;
    }
    HWND window() const { return window_.get(); }

    MonitorRig rig_{LocalModeSettings()};
    ServedWindow window_;
};

TEST_F(Cancel, WithNoJobTheRequestIsWrittenAndTheWindowMinimisedAtOnce) {
    for (const char* no_document : {"  ", " "}) {
        SCOPED_TRACE(std::string("\"") + no_document + "\"");
        ShowWindow(window(), SW_RESTORE);
        ASSERT_EQ(SetRecordString(kLmJobCancel, "RQ_NORMAL"), ERROR_SUCCESS);
        ASSERT_EQ(SetRecordString(kDocName, no_document), ERROR_SUCCESS);
        EXPECT_LT(Run(), 1000u);
        EXPECT_EQ(StoredCancelRequest(), "RQ_CANCEL");
        EXPECT_TRUE(IsIconic(window()));
    }
}

TEST_F(Cancel, WaitsForTheLanguageMonitorToClearTheDocument) {
    ASSERT_EQ(SetRecordString(kDocName, "report.txt"), ERROR_SUCCESS);
    std::thread language_monitor([] {
        for (int i = 0; i < 500 && StoredCancelRequest() != "RQ_CANCEL"; ++i)
            Sleep(10);
        Sleep(400);
        SetRecordString(kDocName, "  ");
    });
    DWORD took = Run();
    language_monitor.join();
    EXPECT_GE(took, 300u);
    EXPECT_LT(took, 5000u);
    EXPECT_TRUE(IsIconic(window()));
    EXPECT_FALSE(rig_.state().record_key.is_open());
}

TEST_F(Cancel, ThreeBlanksAreADocumentNameSoTheWaitRunsOutAfterAboutTenSeconds) {
    ASSERT_EQ(SetRecordString(kDocName, "   "), ERROR_SUCCESS);
    DWORD took = Run();
    EXPECT_GE(took, 9000u);
    EXPECT_LT(took, 90000u);  // 10 ms sleeps and registry reads are slower on a busy machine
    EXPECT_TRUE(IsIconic(window()));  // minimised anyway
}

TEST_F(Cancel, WithoutTheRecordNothingIsWrittenAndTheWindowStays) {
    ASSERT_EQ(DeleteRecordKey(), ERROR_SUCCESS);
    ShowWindow(window(), SW_RESTORE);
    Run();
    HKEY key;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordPath, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_FALSE(IsIconic(window()));
    // A record whose document name cannot be read ends the wait too.
    ASSERT_EQ(SetRecordString(kUsrName, "x"), ERROR_SUCCESS);  // key 1 without DOC_NAME
    Run();
    EXPECT_EQ(StoredCancelRequest(), "RQ_CANCEL");
    EXPECT_FALSE(IsIconic(window()));
    EXPECT_FALSE(rig_.state().parent_key.is_open());
}

}  // namespace
