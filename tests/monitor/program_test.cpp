// The real orvstsn.exe under Wine: a test plays the language monitor
// through the prefix's registry, the shell's notification area through a
// stand-in window, and the user through the messages that clicks send;
// it checks what a user would see through the window manager. Each test
// is one scenario run of the program, so the 500 ms polls are waited for
// a few times per test rather than once per check.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <string>
#include <vector>

#include "program_rig.h"
#include "record.h"
#include "rig.h"

using namespace orv;

namespace {

constexpr DWORD kPollWaitMs = 3000;  // several polls of 500 ms, with room for a slow machine
constexpr int kOkButton = 1044;
constexpr int kCancelButton = 1047;
constexpr int kMessageField = 1060;
constexpr UINT kTrayMessage = WM_APP + 100;
constexpr DWORD kBidi = PRINTER_ATTRIBUTE_ENABLE_BIDI;
constexpr char kStatusKey[] = "SOFTWARE\\ORV\\KTRMonitor-Status";
constexpr char kNoDriver[] = "プリンター（ドライバ）が見つかりません。\n\nプログラムを終了します。";

/* Writes the record as the language monitor does, into the prefix's
 * HKEY_LOCAL_MACHINE. */
void Set(const char* name, const char* utf8) {
    ASSERT_EQ(SetRecordString(name, Sjis(utf8)), ERROR_SUCCESS) << name;
}

/* --- what the user sees, and what the shell and the buttons send --------- */

std::string Text(HWND window, int control) {
    char text[4096] = {};
    GetDlgItemTextA(window, control, text, sizeof text);
    return text;
}

bool StartsWith(const std::string& text, const char* utf8) {
    return text.compare(0, Sjis(utf8).size(), Sjis(utf8)) == 0;
}

bool Shown(HWND window) {
    return IsWindowVisible(window) && !IsIconic(window);
}

/* Shown at its place on the work area. Restored from the tray, the
 * window is visible and no longer minimised a moment before it leaves the
 * minimised place (-32000,-32000): its raise while it is being opened
 * shows it, and Wine clears the minimised style before it moves the
 * window. */
bool ShownInPlace(HWND window) {
    RECT rect, work, common;
    return Shown(window) && GetWindowRect(window, &rect) && SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) &&
           IntersectRect(&common, &rect, &work);
}

int DefaultButton(HWND window) {
    LRESULT answer = SendMessageA(window, DM_GETDEFID, 0, 0);
    return HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : 0;
}

void ClickButton(HWND window, int control) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, control)));
}

void DoubleClickTrayIcon(HWND window) {
    PostMessageA(window, kTrayMessage, 1, WM_LBUTTONDBLCLK);
}

/* Opens the tray menu and chooses an item by its mnemonic letter. */
bool ChooseTrayMenuItem(const MonitorProcess& monitor, HWND window, char mnemonic) {
    PostMessageA(window, kTrayMessage, 1, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    if (!WaitFor([&] { return (menu = FindTopLevel(monitor.id(), "#32768", [](HWND) { return true; })) != nullptr; },
                 3000))
        return false;
    PostMessageA(menu, WM_CHAR, static_cast<WPARAM>(mnemonic), 0);
    return true;
}

/* Positions as "left,top". */
std::string Corner(LONG left, LONG top) {
    return std::to_string(left) + "," + std::to_string(top);
}

std::string CornerOf(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return Corner(rect.left, rect.top);
}

/* The stored window position below `root`, "none" unless both values are
 * there. */
std::string StoredCorner(HKEY root) {
    LONG left = 0, top = 0;
    DWORD left_size = 4, top_size = 4;
    if (RegGetValueA(root, kStatusKey, kPositionLeft, RRF_RT_REG_BINARY, nullptr, &left, &left_size) ||
        RegGetValueA(root, kStatusKey, kPositionTop, RRF_RT_REG_BINARY, nullptr, &top, &top_size))
        return "none";
    return Corner(left, top);
}

/* The run mode in which this build's orvstsn.exe runs here. The 64-bit
 * program takes the local mode when the system reports Windows XP. The
 * 32-bit one runs under WOW64, as on 64-bit Windows, where it takes the
 * global mode whatever the version: it then starts only with a supported
 * driver installed and the record key present, and keeps its position
 * under HKEY_CURRENT_USER. Its HKEY_LOCAL_MACHINE\SOFTWARE is the 32-bit
 * view, which this test program, of the same build, sees too. */
constexpr bool kUnderWow64 = sizeof(void*) == 4;
const HKEY kPositionRoot = kUnderWow64 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;

class MonitorProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tray_.ok());
        ASSERT_TRUE(tray_.LearnIcons({199, 211, 212, 213, 226}));
        if (kUnderWow64) {
            // What the installation provides before the global mode starts.
            ASSERT_TRUE(spooler_.Add(kInstalled));
            spooler_.SetDefault(kInstalled.name, kInstalled.port);
            ASSERT_EQ(SetRecordString(kErrCode, "0"), ERROR_SUCCESS);
        } else {
            SetReportedVersion("winxp");  // local mode
        }
    }
    void TearDown() override { SetReportedVersion(nullptr); }

    const TestPrinter kInstalled{"ORV Installed", "LPT1:", "ORV orv2100", PRINTER_ATTRIBUTE_ENABLE_BIDI};

    /* Starts the monitor and waits for its window. */
    HWND Start(MonitorProcess& monitor) { return monitor.Start() ? monitor.WaitWindow() : nullptr; }

    /* Starts the monitor and pops its window up with paper out. */
    HWND StartShown(MonitorProcess& monitor) {
        HWND window = Start(monitor);
        if (window == nullptr || SetRecordString(kErrCode, "302") != ERROR_SUCCESS)
            return nullptr;
        return WaitFor([&] { return ShownInPlace(window); }, kPollWaitMs) ? window : nullptr;
    }

    /* Closes the window as the user does; the exit code. */
    int Close(MonitorProcess& monitor, HWND window) {
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return monitor.WaitExit(kPollWaitMs);
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
    ASSERT_TRUE(WaitFor([&] { return tray_.LatestTip() == Sjis("印刷可能..."); }, kPollWaitMs));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_TRUE(tray_.IconShown());
    EXPECT_EQ(tray_.LatestIconId(), 199);
    EXPECT_EQ(Title(window), Sjis("ステータスモニタ :   "));

    // A second start gives up after about 1.5 s, without a window.
    MonitorProcess second;
    DWORD started = GetTickCount();
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitExit(10000), 0);
    EXPECT_GE(GetTickCount() - started, 1200u);
    EXPECT_EQ(second.WaitWindow(0), nullptr);

    // Paper out: the window comes out of the tray with the message.
    Set(kPrtName, "ORV orv2100");
    Set(kUsrName, "山田");
    Set(kDocName, "報告書.txt");
    Set(kErrCode, "302");
    ASSERT_TRUE(WaitFor([&] { return Shown(window); }, kPollWaitMs));
    EXPECT_EQ(Title(window), Sjis("ステータスモニタ : ORV orv2100"));
    EXPECT_TRUE(StartsWith(Text(window, kMessageField), "[0302 用紙なし]\r\n"));
    EXPECT_EQ(Text(window, 1050), Sjis("山田"));         // user
    EXPECT_EQ(Text(window, 1031), Sjis("報告書.txt"));   // document
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, kOkButton)));
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
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, kOkButton)));
    EXPECT_EQ(DefaultButton(window), kCancelButton);
    // From a serious error to another: OK is back and the default.
    Set(kErrCode, "303");
    EXPECT_TRUE(WaitFor([&] { return DefaultButton(window) == kOkButton; }, kPollWaitMs));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, kOkButton)));

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
    // poll or two and takes its icon along; in local mode it marks that
    // it no longer runs.
    ASSERT_EQ(DeleteRecordKey(), ERROR_SUCCESS);
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
    EXPECT_FALSE(tray_.IconShown());
    EXPECT_EQ(StoredText(HKEY_LOCAL_MACHINE, kStatusKey, kStsRun), kUnderWow64 ? "<missing>" : "0");
}

TEST_F(MonitorProgram, KeepsItsPositionAcrossRunsAndForgetsItAtTheCentre) {
    // The placement is read from the shown window: Wine reports another
    // process's minimised window at its minimised place.
    RECT work, rect;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
    LONG width = 0, height = 0, centre_x = 0, centre_y = 0;
    {
        // First run: centred; moved by the user, then ended.
        MonitorProcess monitor;
        HWND window = StartShown(monitor);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(GetWindowRect(window, &rect));
        width = rect.right - rect.left;
        height = rect.bottom - rect.top;
        centre_x = (work.left + work.right - width) / 2;
        centre_y = (work.top + work.bottom - height) / 2;
        EXPECT_EQ(CornerOf(window), Corner(centre_x, centre_y));
        SetWindowPos(window, nullptr, 37, 45, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        // Ended from the tray menu: the window's normal place is kept.
        PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window) && tray_.IconShown(); }, kPollWaitMs));
        ASSERT_TRUE(ChooseTrayMenuItem(monitor, window, 'x'));
        EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
        EXPECT_FALSE(tray_.IconShown());
        EXPECT_EQ(StoredCorner(kPositionRoot), "37,45");
    }
    {
        // Second run: placed where it was left; closed at the centre,
        // which deletes the stored position.
        MonitorProcess monitor;
        HWND window = StartShown(monitor);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(CornerOf(window), "37,45");
        SetWindowPos(window, nullptr, centre_x, centre_y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        EXPECT_EQ(Close(monitor, window), 1);
        EXPECT_EQ(StoredCorner(kPositionRoot), "none");
    }
    // A stored position must leave more than 10 pixels of the window on
    // the work area; one that does not is ignored for the centre.
    const struct {
        LONG left, top;
        bool used;
    } cases[] = {
        {work.right - 11, work.bottom - 11, true},
        {work.right - 10, 45, false},
        {37, work.top - height + 10, false},
        {work.left - width + 11, 45, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Corner(c.left, c.top));
        ASSERT_EQ(RegSetKeyValueA(kPositionRoot, kStatusKey, kPositionLeft, REG_BINARY, &c.left, 4), 0);
        ASSERT_EQ(RegSetKeyValueA(kPositionRoot, kStatusKey, kPositionTop, REG_BINARY, &c.top, 4), 0);
        MonitorProcess monitor;
        HWND window = StartShown(monitor);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(CornerOf(window), Corner(c.used ? c.left : centre_x, c.used ? c.top : centre_y));
        // Calibration mode ends the monitor as the record's removal does.
        Set(kCalMode, "1");
        EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
    }
}

/* Whether this process can take the single-instance mutex of the run
 * mode at once (it lets it go again). */
bool InstanceMutexFree() {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kUnderWow64 ? "Global\\KTRMonitor_Mutex" : "KTRMonitor_Mutex");
    DWORD wait = mutex != nullptr ? WaitForSingleObject(mutex, 0) : WAIT_FAILED;
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    if (mutex != nullptr)
        CloseHandle(mutex);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

/* Log-off as Windows does it: once WM_ENDSESSION has returned, the
 * process may be ended without another message, so everything the close
 * does is done by then. */
TEST_F(MonitorProgram, ClosesAsTheUserWouldWhenTheSessionEnds) {
    MonitorProcess monitor;
    HWND window = StartShown(monitor);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kStatusKey, kStsRun, REG_SZ, "1", 2), ERROR_SUCCESS);
    SetWindowPos(window, nullptr, 37, 45, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window) && tray_.IconShown(); }, kPollWaitMs));
    ASSERT_FALSE(InstanceMutexFree());

    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE)) << "the end of the session was refused";
    ASSERT_TRUE(SendMessageTimeoutA(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 5000, &answer));
    EXPECT_EQ(StoredCorner(kPositionRoot), "37,45");
    EXPECT_FALSE(tray_.IconShown());
    // In local mode the language monitor learns that no monitor runs.
    EXPECT_EQ(StoredText(HKEY_LOCAL_MACHINE, kStatusKey, kStsRun), kUnderWow64 ? "1" : "0");
    EXPECT_TRUE(InstanceMutexFree());
    // Should Windows not end it, it ends itself.
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
}

/* Whether the record key is there in the registry view `view`. */
bool RecordKeyIn(REGSAM view) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordPath, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST_F(MonitorProgram, GlobalModeStartsOnlyWithASupportedDriverAndAnExistingRecord) {
    SetReportedVersion(nullptr);  // the prefix reports a system after XP
    spooler_.RemoveAll();
    DeleteRecordKey();
    for (bool driver : {false, true}) {
        SCOPED_TRACE(driver ? "no record" : "no supported driver");
        if (driver) {
            ASSERT_TRUE(spooler_.Add({"ORV Test", "LPT1:", "ORV orv2200N", kBidi}));
        }
        MonitorProcess monitor;
        ASSERT_TRUE(monitor.Start());
        EXPECT_EQ(TakeMessageBox(monitor), Sjis(kNoDriver));
        EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 0);
        EXPECT_EQ(RecordText(kErrCode), "<missing>");
    }
    ASSERT_EQ(SetRecordString(kErrCode, "0"), ERROR_SUCCESS);  // the installer made the record
    MonitorProcess monitor;
    HWND window = StartShown(monitor);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(RecordText(kLmJobCancel), "RQ_NORMAL");  // the defaults were written
    // They went to the registry view of the program's build: a 32-bit
    // monitor's record lies in the 32-bit view, where a 64-bit language
    // monitor or tool reaches it only with KEY_WOW64_32KEY.
    EXPECT_TRUE(RecordKeyIn(kUnderWow64 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
    EXPECT_FALSE(RecordKeyIn(kUnderWow64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY));
    auto mutex_exists = [](const char* name) {
        HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
        return mutex != nullptr && CloseHandle(mutex);
    };
    EXPECT_TRUE(mutex_exists("Global\\KTRMonitor_Mutex"));
    EXPECT_FALSE(mutex_exists("KTRMonitor_Mutex"));
    // The position is the user's: below HKEY_CURRENT_USER; no run marker.
    SetWindowPos(window, nullptr, 52, 61, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    EXPECT_EQ(Close(monitor, window), 1);
    EXPECT_EQ(StoredCorner(HKEY_CURRENT_USER), "52,61");
    HKEY status;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kStatusKey, 0, KEY_READ, &status), ERROR_SUCCESS);
}

/* The printer check runs when the user restores the window from the tray
 * (a double-click or the tray menu) while the status code has not
 * changed. One monitor runs through the verdicts that keep it running,
 * the tray menu's commands, and the verdict that ends it. */
TEST_F(MonitorProgram, PrinterCheckOnRestoreReportsEachVerdictAndTheTrayMenuActsOnlyInTheTray) {
    const TestPrinter other{"ORV Other", "LPT2:", "Generic / Text Only", kBidi};
    const TestPrinter test{"ORV Test", "LPT1:", "ORV orv2100", kBidi};
    const std::string long_name(60, 'L');
    const char* not_default = "ORV orv2100またはORV orv2200プリンターを接続し\n通常使うプリンターに設定してください。";
    const struct {
        const char* what;
        std::vector<TestPrinter> printers;
        std::string default_name, default_port;
        const char* message;
        const char* code_after;  // ERR_CODE once the box is shown
    } cases[] = {
        {"supported printer not the default", {other, test}, "ORV Other", "LPT2:", not_default, "0000"},
        {"no default printer", {test}, "", "", not_default, "0000"},
        {"default name cut by the profile buffer", {{long_name, "LPT1:", "ORV orv2100", kBidi}}, long_name,
         "LPT1:", not_default, "0000"},
        {"driver name with a suffix", {{"ORV Plus", "LPT1:", "ORV orv2100 Plus", kBidi}, test}, "ORV Plus",
         "LPT1:", not_default, "0000"},
        {"serial port", {{"ORV Test", "COM1:", "ORV orv2100", kBidi}}, "ORV Test", "COM1:",
         "プリンターポートの設定が異なります。\n[プリンター]フォルダーからプロパティを開いて、ポート設定を変更してください。",
         "0000"},
        {"bidirectional support off", {{"ORV Test", "LPT1:", "ORV orv2100", 0}}, "ORV Test", "LPT1:",
         "プリンターの双方向機能が無効になっています。\n\n[プリンター]フォルダーからプロパティを開いて、双方向機能を有効にしてください。",
         "0"},
        {"work offline", {{"ORV Test", "LPT1:", "ORV orv2100", kBidi | PRINTER_ATTRIBUTE_WORK_OFFLINE}},
         "ORV Test", "LPT1:",
         "プリンターはオフラインになっています。\n\n[プリンター]フォルダーを開いて、オフラインを解除してください。", "0"},
    };
    MonitorProcess monitor;
    HWND window = Start(monitor);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitFor([&] { return tray_.IconShown(); }, kPollWaitMs));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        spooler_.RemoveAll();
        for (const TestPrinter& printer : c.printers)
            ASSERT_TRUE(spooler_.Add(printer));
        spooler_.SetDefault(c.default_name, c.default_port);
        DoubleClickTrayIcon(window);
        EXPECT_EQ(TakeMessageBox(monitor), Sjis(c.message));
        EXPECT_EQ(RecordText(kErrCode), c.code_after);
        EXPECT_FALSE(IsWindowVisible(window));
        ASSERT_TRUE(monitor.Running());
    }

    // From the tray, print cancel asks the language monitor; with no
    // document it is done at once.
    ASSERT_TRUE(ChooseTrayMenuItem(monitor, window, 'c'));
    EXPECT_TRUE(WaitFor([] { return RecordText(kLmJobCancel) == "RQ_CANCEL"; }, kPollWaitMs));
    EXPECT_FALSE(IsWindowVisible(window));
    Set(kLmJobCancel, "RQ_NORMAL");

    // Restored from the menu, ready on a USB port: the record says
    // "fetching information", the wake-up job of 15 zero bytes goes to
    // the printer, the window opens.
    spooler_.RemoveAll();
    ASSERT_TRUE(spooler_.Add({"ORV Test", "USB001", "ORV orv2200", kBidi}));
    spooler_.SetDefault("ORV Test", "USB001");
    ASSERT_TRUE(spooler_.CapturePort("USB001"));
    ASSERT_TRUE(ChooseTrayMenuItem(monitor, window, 'r'));
    ASSERT_TRUE(WaitFor([&] { return Shown(window); }, 6000));
    EXPECT_FALSE(tray_.IconShown());
    EXPECT_EQ(CloseMessageBox(monitor.id()), "");
    EXPECT_EQ(RecordText(kErrCode), "100");
    EXPECT_TRUE(WaitFor([&] { return spooler_.JobBytes() == std::string(15, '\0'); }, 3000))
        << spooler_.JobBytes().size();
    EXPECT_TRUE(WaitFor([&] { return StartsWith(Text(window, kMessageField), "[情報取得中]"); }, kPollWaitMs));

    // The menu's cancel does nothing while the window is shown.
    ASSERT_TRUE(ChooseTrayMenuItem(monitor, window, 'c'));
    EXPECT_FALSE(WaitFor([] { return RecordText(kLmJobCancel) != "RQ_NORMAL"; }, 1000));

    // No supported printer left: the check ends the program, icon and all.
    ClickButton(window, kOkButton);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(window) && tray_.IconShown(); }, kPollWaitMs));
    spooler_.RemoveAll();
    DoubleClickTrayIcon(window);
    EXPECT_EQ(TakeMessageBox(monitor), Sjis(kNoDriver));
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 0);
    EXPECT_FALSE(tray_.IconShown());
}

#ifndef _WIN64
/* The 64-bit lm-sim of the 64-bit build tree, as a path of this prefix
 * (drive Z: is the Unix root); empty when it is not built. */
std::string LanguageMonitor64() {
    std::string path = "Z:" ORV_LM_SIM_64;
    std::replace(path.begin(), path.end(), '/', '\\');
    return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? "" : path;
}

/* Starts the 64-bit lm-sim with `arguments`: its process, or nullptr. */
HANDLE StartLanguageMonitor64(const std::string& arguments) {
    std::string command = "\"" + LanguageMonitor64() + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

/* The exit code of a process that ends within `timeout_ms` (this thread's
 * messages pumped meanwhile), else -1; closes its handle. */
int ExitCodeOf(HANDLE process, DWORD timeout_ms) {
    if (process == nullptr)
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitFor([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, timeout_ms))
        GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return static_cast<int>(code);
}

int RunLanguageMonitor64(const std::string& arguments) {
    return ExitCodeOf(StartLanguageMonitor64(arguments), 20000);
}

/* On 64-bit Windows the language monitor is a 64-bit DLL of the spooler.
 * It meets the shipped 32-bit monitor only in the 32-bit registry view,
 * which it opens with KEY_WOW64_32KEY, as the 64-bit lm-sim does with
 * --32-bit-view: the record key (made as the installer makes it), the
 * status codes, the cancel request and its answer, the record's
 * removal. */
TEST_F(MonitorProgram, The32BitMonitorFollowsA64BitLanguageMonitorWritingThe32BitView) {
    if (LanguageMonitor64().empty())
        GTEST_SKIP() << "no 64-bit lm-sim at " ORV_LM_SIM_64 " (build the win64 tree)";
    const std::string lm = "--32-bit-view ";
    ASSERT_EQ(DeleteRecordKey(), ERROR_SUCCESS);  // made again by the 64-bit side
    ASSERT_EQ(RunLanguageMonitor64(lm + "defaults"), 0);
    EXPECT_NE(RunLanguageMonitor64("print"), 0) << "a record in the 64-bit view";
    MonitorProcess monitor;
    HWND window = Start(monitor);  // global mode: the record key must be there
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(RunLanguageMonitor64(lm + "set DOC_NAME report.txt"), 0);
    ASSERT_EQ(RunLanguageMonitor64(lm + "set ERR_CODE 302"), 0);
    ASSERT_TRUE(WaitFor([&] { return ShownInPlace(window); }, kPollWaitMs));
    EXPECT_TRUE(StartsWith(Text(window, kMessageField), "[0302 用紙なし]\r\n"));
    EXPECT_EQ(Text(window, 1031), "report.txt");

    HANDLE answerer = StartLanguageMonitor64(lm + "answer-cancel 300 20000");
    ASSERT_NE(answerer, nullptr);
    ClickButton(window, kCancelButton);
    EXPECT_EQ(ExitCodeOf(answerer, 10000), 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(window) && tray_.IconShown(); }, kPollWaitMs));

    ASSERT_EQ(RunLanguageMonitor64(lm + "remove"), 0);
    EXPECT_EQ(monitor.WaitExit(kPollWaitMs), 1);
}
#endif  // the 32-bit build

}  // namespace
