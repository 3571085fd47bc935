/*
 * program_rig.h - what the tests of the real orvstsn.exe share: the
 * program as a process, its message boxes, a stand-in for the shell's
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
#include <string>
#include <vector>

#include "bounded_wait.h"

/* Polls `condition` every 20 ms until it holds or `timeout_ms` passed;
 * pumps this thread's messages meanwhile. */
bool WaitFor(const std::function<bool()>& condition, DWORD timeout_ms);

std::string Title(HWND window);

/* The first top-level window of `process` with the class `class_name`
 * for which `matches` holds, or nullptr. */
HWND FindTopLevel(DWORD process, const char* class_name, const std::function<bool(HWND)>& matches);

/* A window of the shell's class "Shell_TrayWnd", which receives what
 * Shell_NotifyIcon sends to the notification area (Wine's null display
 * driver has none), and tells the monitor's icons apart by their
 * pictures. It is served by the thread that made it, in WaitFor. */
class FakeTray {
  public:
    FakeTray();
    ~FakeTray();
    FakeTray(const FakeTray&) = delete;
    FakeTray& operator=(const FakeTray&) = delete;

    bool ok() const { return window_ != nullptr; }
    /* Learns the pictures of the icon resources `ids` of orvstsn.exe. */
    bool LearnIcons(const std::vector<int>& ids);

    /* Whether an icon is shown: added and not deleted since. */
    bool IconShown() const { return shown_; }
    /* The resource id of the latest picture sent, 0 for none, -1 for one
     * not learned. */
    int LatestIconId() const;
    const std::string& LatestTip() const { return tip_; }  // code page 932
    /* Forgets every icon, as a shell that starts again; a change to an
     * icon it does not show fails, as the shell's does. */
    void Clear();

  private:
    static LRESULT CALLBACK Procedure(HWND, UINT, WPARAM, LPARAM);

    HWND window_ = nullptr;
    bool shown_ = false;
    std::string tip_, picture_;                           // the latest sent
    std::vector<std::pair<int, std::string>> pictures_;  // learned: id, picture
};

class MonitorProcess {
  public:
    MonitorProcess() = default;
    ~MonitorProcess();  // ends it if it still runs
    MonitorProcess(const MonitorProcess&) = delete;
    MonitorProcess& operator=(const MonitorProcess&) = delete;

    /* Starts orvstsn.exe from the test's folder. */
    bool Start();
    bool Running() const;
    /* Exit code, or -1 when it did not end within `timeout_ms`. */
    int WaitExit(DWORD timeout_ms);
    DWORD id() const { return process_.dwProcessId; }
    HANDLE handle() const { return process_.hProcess; }

    /* The status window (a dialog with the message field), or nullptr
     * when it is not there within `timeout_ms`. */
    HWND WaitWindow(DWORD timeout_ms = 5000) const;

  private:
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

/* The text of a shown message box of `process` with the monitor's caption
 * "ステータスモニタ", closed with OK; empty when none is shown. */
std::string CloseMessageBox(DWORD process);

/* Waits for a message box of the process, as CloseMessageBox; empty when
 * none came within `timeout_ms`. */
std::string TakeMessageBox(const MonitorProcess& process, DWORD timeout_ms = 5000);

/* Runs `action` while another thread closes every message box of this
 * process with the monitor's caption, calling `on_box` (when given) as it
 * finds one; the texts of those boxes. */
std::vector<std::string> CloseMessageBoxesDuring(const std::function<void()>& action,
                                                 const std::function<void()>& on_box = nullptr);

/* While it lives, the monitor's waits (bounded_wait.h) run on a clock
 * whose pauses last 16 ms for every 10 ms asked for, as Sleep does on
 * Windows at the default timer resolution (15.6 ms a tick); the tick
 * count wraps around during the wait. */
class WindowsLikeClock {
  public:
    WindowsLikeClock();
    ~WindowsLikeClock();
    WindowsLikeClock(const WindowsLikeClock&) = delete;
    WindowsLikeClock& operator=(const WindowsLikeClock&) = delete;

    DWORD elapsed() const;                     // ms of this clock since its start
    const std::vector<DWORD>& pauses() const;  // the pauses asked for, in ms

  private:
    orv::WaitClock saved_;
};

/* Sets the Windows version Wine reports to orvstsn.exe ("winxp" runs it
 * in local mode; nullptr: the prefix's default, a later system, global
 * mode). */
void SetReportedVersion(const char* version);

struct TestPrinter {
    std::string name;
    std::string port;
    std::string driver;
    DWORD attributes;
};

/* Printers in the spooler's registry, the default printer, and the file
 * that a port's print jobs go to. Everything is removed again at the
 * end; the monitor's keys (SOFTWARE\ORV under both roots) at the start
 * too. */
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
    std::string capture_path_;  // Z:\tmp\...
};

/* A REG_SZ value as stored, "<missing>" when absent; RecordText reads
 * the status record's. */
std::string StoredText(HKEY root, const char* path, const char* name);
std::string RecordText(const char* name);

#endif  // ORV_TEST_MONITOR_PROGRAM_RIG_H
