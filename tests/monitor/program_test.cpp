// The real orvstsn.exe under Wine: a test plays the language monitor
// through the prefix's registry, the shell's notification area through a
// stand-in window, and the user through the messages that clicks send;
// it checks what a user would see through the window manager. Each test
// is one scenario run of the program, so the 500 ms polls are waited for
// a few times per test rather than once per check.
#include <gtest/gtest.h>

#include <string>

#include "program_rig.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

constexpr DWORD kPollWaitMs = 3000;  // several polls of 500 ms, with room for a slow machine
constexpr int kOkButton = 1044;
constexpr int kCancelButton = 1047;
constexpr int kMessageField = 1060;
constexpr int kUserField = 1050;
constexpr int kDocumentField = 1031;

const std::vector<int> kIcons = {199, 211, 212, 213, 226};

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

/* Writes the record as the language monitor does, into the prefix's
 * HKEY_LOCAL_MACHINE. */
void Set(const char* name, const char* utf8) {
    ASSERT_EQ(SetRecordString(name, Sjis(utf8)), ERROR_SUCCESS) << name;
}

class MonitorProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tray_.ok());
        ASSERT_TRUE(tray_.LearnIcons(ProgramFolder() + "orvstsn.exe", kIcons));
        SetReportedVersion("winxp");  // local mode
    }
    void TearDown() override { SetReportedVersion(nullptr); }

    /* Starts the monitor and waits for its window. */
    HWND Start(MonitorProcess& monitor) {
        if (!monitor.Start())
            return nullptr;
        return monitor.WaitWindow();
    }

    SpoolerRig spooler_;
    FakeTray tray_;
};

TEST_F(MonitorProgram, FollowsTheRecordFromTheTrayThroughErrorsAndEndsWhenTheRecordGoes) {
    MonitorProcess monitor;
    HWND window = Start(monitor);
    ASSERT_NE(window, nullptr);

    // Start: the defaults are written, and display mode 2 keeps the
    // ready window in the notification area.
    EXPECT_EQ(RecordText(kErrCode), "0000");
    EXPECT_EQ(RecordText(kRstDvd), "0");
    ASSERT_TRUE(WaitFor([&] { return tray_.LatestTip() == Sjis("印刷可能..."); }, kPollWaitMs));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(tray_.IconShown());
    EXPECT_EQ(tray_.LatestIconId(), 199);
    EXPECT_EQ(WindowTitle(window), Sjis("ステータスモニタ :   "));

    // A second start gives up after about 1.5 s, without a window.
    MonitorProcess second;
    DWORD started = GetTickCount();
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitExit(10000), 0);
    DWORD took = GetTickCount() - started;
    EXPECT_GE(took, 1200u);
    EXPECT_EQ(second.Window(), nullptr);

    // Paper out: the window comes out of the tray with the message.
    Set(kPrtName, "ORV orv2100");
    Set(kUsrName, "山田");
    Set(kDocName, "報告書.txt");
    Set(kErrCode, "302");
    ASSERT_TRUE(WaitFor([&] { return Shown(window); }, kPollWaitMs));
    EXPECT_EQ(WindowTitle(window), Sjis("ステータスモニタ : ORV orv2100"));
    EXPECT_TRUE(StartsWith(ControlText(window, kMessageField), Sjis("[0302 用紙なし]\r\n")));
    EXPECT_EQ(ControlText(window, kUserField), Sjis("山田"));
    EXPECT_EQ(ControlText(window, kDocumentField), Sjis("報告書.txt"));
    EXPECT_TRUE(ControlEnabled(window, kOkButton));
    EXPECT_EQ(DefaultButton(window), kOkButton);
    EXPECT_FALSE(tray_.IconShown());

    // OK sends it back; it stays there while the code does not change.
    ClickButton(window, kOkButton);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, kPollWaitMs));
    EXPECT_TRUE(WaitFor([&] { return tray_.LatestTip() == Sjis("用紙なし"); }, kPollWaitMs));
    EXPECT_EQ(tray_.LatestIconId(), 212);
    EXPECT_FALSE(WaitFor([&] { return IsWindowVisible(window) != FALSE; }, 1600));

    // A serious error: out again, OK disabled, the cancel button default.
    Set(kErrCode, "402");
    ASSERT_TRUE(WaitFor([&] { return Shown(window); }, kPollWaitMs));
    EXPECT_FALSE(ControlEnabled(window, kOkButton));
    EXPECT_EQ(DefaultButton(window), kCancelButton);
    // From a serious error to another: OK is back and the default.
    Set(kErrCode, "303");
    EXPECT_TRUE(WaitFor([&] { return DefaultButton(window) == kOkButton; }, kPollWaitMs));
    EXPECT_TRUE(ControlEnabled(window, kOkButton));

    // Print cancel: the request goes into the record; once the language
    // monitor clears the document name the window goes to the tray.
    ClickButton(window, kCancelButton);
    ASSERT_TRUE(WaitFor([] { return RecordText(kLmJobCancel) == "RQ_CANCEL"; }, kPollWaitMs));
    EXPECT_TRUE(IsWindowVisible(window));
    Set(kDocName, "  ");
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, kPollWaitMs));
    EXPECT_TRUE(tray_.IconShown());

    // Ready again: the tray shows it; the window stays hidden.
    Set(kErrCode, "0");
    EXPECT_TRUE(WaitFor([&] { return tray_.LatestIconId() == 199; }, kPollWaitMs));
    EXPECT_EQ(tray_.LatestTip(), Sjis("印刷可能..."));
    EXPECT_FALSE(IsWindowVisible(window));

    // The language monitor removes the record: the monitor ends within a
    // poll or two, takes its icon along and marks that it no longer runs.
    ASSERT_EQ(DeleteRecordKey(), ERROR_SUCCESS);
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
    EXPECT_FALSE(tray_.IconShown());
    std::string run_marker;
    DWORD size = 16;
    char marker[16] = {};
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORV\\KTRMonitor-Status", "STS_RUN", RRF_RT_REG_SZ,
                           nullptr, marker, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(marker, "0");
}

TEST_F(MonitorProgram, KeepsItsPositionAcrossRunsAndForgetsItAtTheCentre) {
    RECT work;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    auto close = [](MonitorProcess& monitor, HWND window) {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return monitor.WaitExit(kPollWaitMs);
    };
    LONG width = 0, height = 0, centre_x = 0, centre_y = 0;
    {
        // First run: centred; moved by the user, then closed.
        MonitorProcess monitor;
        HWND window = Start(monitor);
        ASSERT_NE(window, nullptr);
        Set(kErrCode, "302");
        ASSERT_TRUE(WaitFor([&] { return Shown(window); }, kPollWaitMs));
        RECT rect = WindowRect(window);
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
        centre_x = (work.left + work.right - width) / 2;
        centre_y = (work.top + work.bottom - height) / 2;
        EXPECT_EQ(rect.left, centre_x);
        EXPECT_EQ(rect.top, centre_y);
        SetWindowPos(window, nullptr, 37, 45, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_EQ(close(monitor, window), 1);
        LONG left = 0, top = 0;
        ASSERT_TRUE(StoredPosition(HKEY_LOCAL_MACHINE, &left, &top));
        EXPECT_EQ(left, 37);
        EXPECT_EQ(top, 45);
    }
    {
        // Second run: placed where it was left; closed at the centre,
        // which deletes the stored position. (The placement is read from
        // the shown window: Wine reports another process's minimised
        // window at its minimised place.)
        MonitorProcess monitor;
        HWND window = Start(monitor);
        ASSERT_NE(window, nullptr);
        Set(kErrCode, "302");
        ASSERT_TRUE(WaitFor([&] { return Shown(window); }, kPollWaitMs));
        EXPECT_EQ(WindowRect(window).left, 37);
        EXPECT_EQ(WindowRect(window).top, 45);
        SetWindowPos(window, nullptr, centre_x, centre_y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_EQ(close(monitor, window), 1);
        LONG left = 0, top = 0;
        EXPECT_FALSE(StoredPosition(HKEY_LOCAL_MACHINE, &left, &top));
    }
    // A stored position must leave more than 10 pixels of the window on
    // the work area; one that does not is ignored for the centre.
    struct Case {
        LONG left, top;
        bool used;
    };
    const Case cases[] = {
        {work.right - 11, work.bottom - 11, true},
        {work.right - 10, 45, false},
        {37, work.top - height + 10, false},
        {work.left - width + 11, 45, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.left) + "," + std::to_string(c.top));
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORV\\KTRMonitor-Status", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "Position_left", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&c.left), 4);
        RegSetValueExA(key, "Position_top", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&c.top), 4);
        RegCloseKey(key);
        MonitorProcess monitor;
        HWND window = Start(monitor);
        ASSERT_NE(window, nullptr);
        Set(kErrCode, "302");
        ASSERT_TRUE(WaitFor([&] { return Shown(window); }, kPollWaitMs));
        EXPECT_EQ(WindowRect(window).left, c.used ? c.left : centre_x);
        EXPECT_EQ(WindowRect(window).top, c.used ? c.top : centre_y);
        // Calibration mode ends the monitor as the record's removal does.
        Set(kCalMode, "1");
        EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
    }
}

TEST_F(MonitorProgram, GlobalModeStartsOnlyWithASupportedDriverAndAnExistingRecord) {
    SetReportedVersion(nullptr);  // the prefix reports a system after XP
    const std::string no_driver = Sjis("プリンター（ドライバ）が見つかりません。\n\nプログラムを終了します。");
    {
        MonitorProcess monitor;
        ASSERT_TRUE(monitor.Start());
        EXPECT_EQ(TakeMessageBox(monitor), no_driver);
        EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 0);
    }
    ASSERT_TRUE(spooler_.Add({"ORV Test", "LPT1:", "ORV orv2200N", kBidirectional}));
    {
        MonitorProcess monitor;  // a driver, but no record yet
        ASSERT_TRUE(monitor.Start());
        EXPECT_EQ(TakeMessageBox(monitor), no_driver);
        EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 0);
        EXPECT_EQ(RecordText(kErrCode), "<missing>");
    }
    ASSERT_EQ(SetRecordString(kErrCode, "0"), ERROR_SUCCESS);  // the installer made the record
    MonitorProcess monitor;
    HWND window = Start(monitor);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(RecordText(kLmJobCancel), "RQ_NORMAL");  // the defaults were written
    HANDLE global = OpenMutexA(SYNCHRONIZE, FALSE, "Global\\KTRMonitor_Mutex");
    HANDLE local = OpenMutexA(SYNCHRONIZE, FALSE, "KTRMonitor_Mutex");
    EXPECT_NE(global, nullptr);
    EXPECT_EQ(local, nullptr);
    if (global != nullptr)
        CloseHandle(global);
    if (local != nullptr)
        CloseHandle(local);
    // The position is the user's: below HKEY_CURRENT_USER; no run marker.
    Set(kErrCode, "302");
    ASSERT_TRUE(WaitFor([&] { return Shown(window); }, kPollWaitMs));
    SetWindowPos(window, nullptr, 52, 61, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
    LONG left = 0, top = 0;
    EXPECT_TRUE(StoredPosition(HKEY_CURRENT_USER, &left, &top));
    EXPECT_EQ(left, 52);
    EXPECT_FALSE(StoredPosition(HKEY_LOCAL_MACHINE, &left, &top));
    HKEY status;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ORV\\KTRMonitor-Status", 0, KEY_READ, &status),
              ERROR_SUCCESS);
}

/* The printer check runs when the user restores the window from the tray
 * while the status code has not changed. One monitor runs through the
 * verdicts that keep it running; the last case ends it. */
TEST_F(MonitorProgram, PrinterCheckOnRestoreReportsEachVerdictAndSendsTheWakeUpJob) {
    const TestPrinter other{"ORV Other", "LPT2:", "Generic / Text Only", kBidirectional};
    const TestPrinter test{"ORV Test", "LPT1:", "ORV orv2100", kBidirectional};
    const std::string long_name(60, 'L');
    const std::string not_default =
        Sjis("ORV orv2100またはORV orv2200プリンターを接続し\n通常使うプリンターに設定してください。");
    const std::string wrong_port = Sjis(
        "プリンターポートの設定が異なります。\n[プリンター]フォルダーからプロパティを開いて、ポート設定を変更してください。");
    const std::string bidirectional_off = Sjis(
        "プリンターの双方向機能が無効になっています。\n\n[プリンター]フォルダーからプロパティを開いて、双方向機能を有効にしてください。");
    const std::string offline =
        Sjis("プリンターはオフラインになっています。\n\n[プリンター]フォルダーを開いて、オフラインを解除してください。");
    struct Case {
        const char* what;
        std::vector<TestPrinter> printers;
        std::string default_name, default_port;
        std::string message;
        const char* code_after;  // ERR_CODE once the box is shown
    };
    const Case cases[] = {
        {"supported printer not the default", {other, test}, "ORV Other", "LPT2:", not_default, "0000"},
        {"no default printer", {test}, "", "", not_default, "0000"},
        {"default name cut by the profile buffer",
         {{long_name, "LPT1:", "ORV orv2100", kBidirectional}}, long_name, "LPT1:", not_default, "0000"},
        {"driver name with a suffix",
         {{"ORV Plus", "LPT1:", "ORV orv2100 Plus", kBidirectional}, test}, "ORV Plus", "LPT1:", not_default,
         "0000"},
        {"serial port", {{"ORV Test", "COM1:", "ORV orv2100", kBidirectional}}, "ORV Test", "COM1:", wrong_port,
         "0000"},
        {"bidirectional support off", {{"ORV Test", "LPT1:", "ORV orv2100", 0}}, "ORV Test", "LPT1:",
         bidirectional_off, "0"},
        {"work offline", {{"ORV Test", "LPT1:", "ORV orv2100", kBidirectional | kWorkOffline}}, "ORV Test",
         "LPT1:", offline, "0"},
    };
    MonitorProcess monitor;
    HWND window = Start(monitor);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitFor([&] { return tray_.IconShown(); }, kPollWaitMs));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spooler_.RemoveAll();
        for (const TestPrinter& printer : c.printers)
            ASSERT_TRUE(spooler_.Add(printer));
        spooler_.SetDefault(c.default_name, c.default_port);
        DoubleClickTrayIcon(window);
        EXPECT_EQ(TakeMessageBox(monitor), c.message);
        EXPECT_EQ(RecordText(kErrCode), c.code_after);
        EXPECT_FALSE(IsWindowVisible(window));
        ASSERT_TRUE(monitor.Running());
    }

    // Ready on a USB port: the record says "fetching information", the
    // wake-up job of 15 zero bytes goes to the printer, the window opens.
    spooler_.RemoveAll();
    ASSERT_TRUE(spooler_.Add({"ORV Test", "USB001", "ORV orv2200", kBidirectional}));
    spooler_.SetDefault("ORV Test", "USB001");
    ASSERT_TRUE(spooler_.CapturePort("USB001"));
    DoubleClickTrayIcon(window);
    ASSERT_TRUE(WaitFor([&] { return Shown(window); }, 6000));
    EXPECT_EQ(monitor.MessageBox(), nullptr);
    EXPECT_EQ(RecordText(kErrCode), "100");
    EXPECT_TRUE(WaitFor([&] { return spooler_.JobBytes() == std::string(15, '\0'); }, 3000))
        << spooler_.JobBytes().size();
    EXPECT_TRUE(WaitFor([&] { return StartsWith(ControlText(window, kMessageField), Sjis("[情報取得中]")); },
                        kPollWaitMs));

    // No supported printer left: the check ends the program.
    ClickButton(window, kOkButton);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window); }, kPollWaitMs));
    spooler_.RemoveAll();
    DoubleClickTrayIcon(window);
    EXPECT_EQ(TakeMessageBox(monitor), Sjis("プリンター（ドライバ）が見つかりません。\n\nプログラムを終了します。"));
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 0);
    EXPECT_FALSE(tray_.IconShown());
}

TEST_F(MonitorProgram, TrayMenuRestoresCancelsOnlyFromTheTrayAndEnds) {
    ASSERT_TRUE(spooler_.Add({"ORV Test", "USB001", "ORV orv2100N", kBidirectional}));
    spooler_.SetDefault("ORV Test", "USB001");
    ASSERT_TRUE(spooler_.CapturePort("USB001"));
    MonitorProcess monitor;
    HWND window = Start(monitor);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitFor([&] { return tray_.IconShown(); }, kPollWaitMs));

    // From the tray, print cancel asks the language monitor; with no
    // document it is done at once.
    RightClickTrayIcon(window);
    ASSERT_TRUE(ChooseTrayMenuItem(monitor, 'c'));
    EXPECT_TRUE(WaitFor([] { return RecordText(kLmJobCancel) == "RQ_CANCEL"; }, kPollWaitMs));
    EXPECT_FALSE(IsWindowVisible(window));
    Set(kLmJobCancel, "RQ_NORMAL");

    RightClickTrayIcon(window);
    ASSERT_TRUE(ChooseTrayMenuItem(monitor, 'r'));
    ASSERT_TRUE(WaitFor([&] { return Shown(window); }, 6000));
    EXPECT_FALSE(tray_.IconShown());

    // The menu's cancel does nothing while the window is shown.
    RightClickTrayIcon(window);
    ASSERT_TRUE(ChooseTrayMenuItem(monitor, 'c'));
    EXPECT_FALSE(WaitFor([] { return RecordText(kLmJobCancel) != "RQ_NORMAL"; }, 1000));

    PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window) && tray_.IconShown(); }, kPollWaitMs));
    RightClickTrayIcon(window);
    ASSERT_TRUE(ChooseTrayMenuItem(monitor, 'x'));
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
    EXPECT_FALSE(tray_.IconShown());
}

}  // namespace
