/*
 * startup.h - the status monitor's program entry: the run mode, the
 * single-instance lock, the record's defaults, the status window and the
 * message loop.
 *
 * The monitor is started by the printer's side for each print and may be
 * started again while one runs, so only one instance may live at a time:
 * a named mutex, tried 50 times 30 ms apart for at most 1.5 s, keeps a
 * second start from doing anything. The run mode (run_mode.h) follows the
 * system version:
 * the 9x family and NT 4 and 5 (XP, Server 2003) run in local mode; later
 * systems, and 32-bit code under WOW64 on NT 5, in global mode, where an
 * ordinary user may read but not create the record, so a record and a
 * supported driver must be there before the monitor starts.
 *
 * Choices of this implementation (see docs/monitor.md):
 *  - From Vista on, session 0 holds services and no user's desktop: a
 *    monitor started there (by a service, say) would hold the machine's
 *    one global-mode mutex with a window nobody sees, and keep every
 *    user's monitor from starting. It ends at once instead, before it
 *    takes the mutex. (On XP and Server 2003 session 0 is the console
 *    user's.)
 *  - At log-off and shut-down the program closes as when the user closes
 *    it, before WM_ENDSESSION returns (window.h): the window's shutdown
 *    step, then the end of the run below.
 */
#ifndef ORV_MONITOR_STARTUP_H
#define ORV_MONITOR_STARTUP_H

#include <windows.h>

namespace orv {

/* What the system tells about itself, as far as the run mode depends on
 * it. */
struct SystemFacts {
    bool version_known;  // a version query succeeded
    DWORD platform_id;   // 0 Win32s, 1 the 9x family, 2 the NT family
    DWORD major_version;
    bool under_wow64;    // 32-bit code on 64-bit Windows
    bool session_known;  // ProcessIdToSessionId answered (it is missing on the 9x family)
    DWORD session_id;    // the process's terminal-services session
};

enum class ModeChoice { kEnd, kLocal, kGlobal };

/* Asks the system: the extended version record, else the basic one;
 * IsWow64Process and ProcessIdToSessionId looked up at run time (missing:
 * not under WOW64, session unknown). */
SystemFacts QuerySystemFacts();

/* The run mode for the facts; kEnd for an unknown version, Win32s, and
 * session 0 of NT 6 and later. */
ModeChoice ChooseRunMode(const SystemFacts& facts);

/* Holds the single-instance mutex of the run mode from Acquire until
 * Release or the end of the object. */
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock() { Release(); }
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    /* Up to 50 attempts, 30 ms apart, within 1.5 s by the tick count,
     * each creating or opening the mutex and testing it without waiting;
     * false when another holds it. */
    bool Acquire(const char* name);
    void Release();

  private:
    HANDLE mutex_ = nullptr;
};

/* The program: returns the exit code (1 after the status window was
 * closed, 0 when start-up ended early). */
int MonitorMain(HINSTANCE instance);

}  // namespace orv

#endif  // ORV_MONITOR_STARTUP_H
