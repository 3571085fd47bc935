// The status window (dialog 197) in the test process, for what a run of
// the program cannot set up: the display modes other than the default 2
// (the monitor writes "2" just before it reads DSP_MODE), and the shell's
// notification area starting again under a window in the tray.
#include <gtest/gtest.h>

#include "program_rig.h"
#include "record.h"
#include "rig.h"
#include "run_mode.h"
#include "window.h"

using namespace orv;

namespace {

class StatusWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_mode_ = g_run_mode;
        g_run_mode = LocalModeSettings();
        ASSERT_TRUE(tray_.ok());
        ASSERT_EQ(InitialiseStatusRecord(), 1);
    }
    void TearDown() override {
        if (window_ != nullptr)
            DestroyWindow(window_);
        g_run_mode = saved_mode_;
    }

    /* A fresh state and window, shown as start-up shows it. */
    HWND Open(int display_mode) {
        if (window_ != nullptr)
            DestroyWindow(window_);
        state_ = NewMonitorState(GetModuleHandleA(nullptr));
        window_ = CreateStatusWindow(*state_, display_mode);
        if (window_ != nullptr)
            ShowAtStart(window_, display_mode, state_->current_code);
        return window_;
    }

    SpoolerRig spooler_;  // removes the monitor's keys before and after
    FakeTray tray_;
    std::unique_ptr<MonitorState> state_;
    HWND window_ = nullptr;
    RunMode saved_mode_{};
};

TEST_F(StatusWindow, ShowsAtStartAccordingToTheDisplayMode) {
    struct Case {
        int display_mode;
        const char* code;
        bool shown;
    };
    const Case cases[] = {
        {1, "0", false}, {1, "302", false},  // always starts in the tray
        {2, "0", false}, {2, "299", false}, {2, "300", true}, {2, "402", true},
        {0, "0", true},  {3, "0", true},     // every other mode shows the window
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.display_mode << " code " << c.code);
        ASSERT_EQ(SetRecordString(kErrCode, c.code), ERROR_SUCCESS);
        tray_.Clear();
        HWND window = Open(c.display_mode);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(IsWindowVisible(window) != FALSE, c.shown);
        EXPECT_EQ(state_->in_tray, c.shown ? 0 : 1);
        EXPECT_EQ(tray_.IconShown(), !c.shown);
    }
}

TEST_F(StatusWindow, TheTrayIconComesBackWhenTheShellStartsAgainOrLosesIt) {
    HWND window = Open(1);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(tray_.IconShown());
    tray_.Clear();  // a new shell knows no icons
    SendMessageA(window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(tray_.IconShown());
    // Lost without that message: the tick's change fails, and it adds
    // the icon again.
    tray_.Clear();
    TickStatusWindow(window);
    EXPECT_TRUE(tray_.IconShown());
    EXPECT_EQ(tray_.LatestTip(), Sjis("印刷可能..."));
    // Closing takes it along.
    SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
    EXPECT_FALSE(tray_.IconShown());
    EXPECT_EQ(GetWindowLongPtrA(window, DWLP_USER), 1);
}

}  // namespace
