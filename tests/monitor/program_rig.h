/*
 * program_rig.h - what the tests of the real orvstsn.exe share: the
 * program as a process, its windows read through the window manager as a
 * user would see them, its message boxes, a stand-in for the shell's
 * notification area, and the spooler's printers in Wine's registry.
 *
 * These tests use the prefix's real registry and the monitor's named
 * mutexes, so they run under one ctest resource lock with every other
 * test that does.
 */
#ifndef ORV_TEST_MONITOR_PROGRAM_RIG_H
#define ORV_TEST_MONITOR_PROGRAM_RIG_H

#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/* Polls `condition` every 20 ms until it holds or `timeout_ms` passed;
 * pumps this thread's messages meanwhile. */
bool WaitFor(const std::function<bool()>& condition, DWORD timeout_ms);

/* The folder of this test program, where orvstsn.exe and lm-sim.exe lie. */
std::string ProgramFolder();

/* --- the notification area ------------------------------------------------ */

/* One Shell_NotifyIcon call that reached the stand-in. */
struct TrayEvent {
    DWORD message;           // NIM_ADD, NIM_MODIFY, NIM_DELETE
    HWND owner;
    UINT id;
    UINT flags;
    UINT callback_message;
    std::string tip;         // code page 932
    std::string icon_bits;   // the picture as the shell receives it
};

/* A window of the shell's class "Shell_TrayWnd" on its own thread, which
 * receives what Shell_NotifyIcon sends to the notification area (Wine's
 * null display driver has none), and can tell the monitor's icons apart
 * by their pictures. */
class FakeTray {
  public:
    FakeTray();
    ~FakeTray();
    FakeTray(const FakeTray&) = delete;
    FakeTray& operator=(const FakeTray&) = delete;

    bool ok() const { return window_ != nullptr; }

    /* Learns the pictures of the icon resources of `module_path`. */
    bool LearnIcons(const std::string& module_path, const std::vector<int>& ids);

    std::vector<TrayEvent> Events();
    void Clear();
    /* Whether an icon is shown now: added and not deleted since. */
    bool IconShown();
    /* The icon resource id of the latest picture sent, or 0. */
    int LatestIconId();
    std::string LatestTip();

  private:
    static LRESULT CALLBACK Procedure(HWND, UINT, WPARAM, LPARAM);
    void Run();
    void Record(const COPYDATASTRUCT& data);

    std::thread thread_;
    HWND window_ = nullptr;
    HANDLE ready_ = nullptr;
    std::mutex lock_;
    std::vector<TrayEvent> events_;
    std::vector<std::pair<int, std::string>> pictures_;  // id, icon bits
    bool learning_ = false;
};

/* --- the program ------------------------------------------------------------ */

class MonitorProcess {
  public:
    MonitorProcess() = default;
    ~MonitorProcess();
    MonitorProcess(const MonitorProcess&) = delete;
    MonitorProcess& operator=(const MonitorProcess&) = delete;

    /* Starts orvstsn.exe from the test's folder. */
    bool Start();
    bool Running() const;
    /* Exit code, or -1 when it did not end within `timeout_ms`. */
    int WaitExit(DWORD timeout_ms);
    DWORD id() const { return process_.dwProcessId; }
    HANDLE handle() const { return process_.hProcess; }

    /* The status window (a dialog of this process with the message
     * field), or nullptr; WaitWindow waits for it. */
    HWND Window() const;
    HWND WaitWindow(DWORD timeout_ms = 5000) const;
    /* A message box of this process with the caption "ステータスモニタ". */
    HWND MessageBox() const;

  private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

/* The window as the user sees it. */
std::string WindowTitle(HWND window);
std::string ControlText(HWND window, int control);
bool ControlEnabled(HWND window, int control);
bool Shown(HWND window);
int DefaultButton(HWND window);
RECT WindowRect(HWND window);

/* Waits for a message box of the process, returns its text and closes it
 * with OK; empty when none came within `timeout_ms`. */
std::string TakeMessageBox(const MonitorProcess& process, DWORD timeout_ms = 5000);

/* Closes every message box of this process with the monitor's caption
 * while it lives, on a thread of its own, and keeps their texts. */
class MessageBoxWatcher {
  public:
    MessageBoxWatcher();
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    std::vector<std::string> Texts();

  private:
    std::thread thread_;
    HANDLE stop_ = nullptr;
    std::mutex lock_;
    std::vector<std::string> texts_;
};

/* Simulated user actions, sent as the shell and the buttons send them. */
void DoubleClickTrayIcon(HWND window);
void RightClickTrayIcon(HWND window);
/* Chooses an item of the open tray menu by its mnemonic letter. */
bool ChooseTrayMenuItem(const MonitorProcess& process, char mnemonic);
void ClickButton(HWND window, int control);

/* --- the machine the monitor runs on ---------------------------------------- */

/* Sets the Windows version Wine reports to orvstsn.exe ("winxp" runs it
 * in local mode; empty: the prefix's default, a later system, global
 * mode). */
void SetReportedVersion(const char* version);

struct TestPrinter {
    std::string name;
    std::string port;
    std::string driver;
    DWORD attributes;
};

constexpr DWORD kBidirectional = 0x800;
constexpr DWORD kWorkOffline = 0x400;

/* Printers in the spooler's registry, the default printer, and the file
 * that a port's print jobs go to. Everything is removed again at the
 * end, together with the monitor's keys. */
class SpoolerRig {
  public:
    SpoolerRig();
    ~SpoolerRig();
    SpoolerRig(const SpoolerRig&) = delete;
    SpoolerRig& operator=(const SpoolerRig&) = delete;

    bool Add(const TestPrinter& printer);
    void RemoveAll();
    /* "" clears the default printer. */
    void SetDefault(const std::string& name, const std::string& port);
    /* Sends the jobs of `port` to a file; its content is JobBytes(). */
    bool CapturePort(const std::string& port);
    std::string JobBytes() const;

  private:
    std::vector<std::string> names_;
    std::vector<std::string> ports_;
    std::string capture_path_;  // a Windows path
    bool had_device_ = false;
    std::string saved_device_;
};

/* Deletes SOFTWARE\ORV under both roots: the record and the position key. */
void RemoveMonitorKeys();

/* The stored window position below `root`; false when not both are there. */
bool StoredPosition(HKEY root, LONG* left, LONG* top);

/* A record value as stored, "<missing>" when absent. */
std::string RecordText(const char* name);

#endif  // ORV_TEST_MONITOR_PROGRAM_RIG_H
