/*
 * run_mode.h - the settings that differ between the monitor's two run
 * modes.
 *
 * Start-up decides the mode from the platform (older NT and the 9x family
 * run in local mode; later systems, and 32-bit code under WOW64 on NT 5,
 * in global mode) and copies the matching settings into g_run_mode before
 * anything touches the registry. The record code, the window and the
 * cancel request read g_run_mode and never decide the mode themselves, so
 * tests can run every path in either mode by filling it.
 */
#ifndef ORV_MONITOR_RUN_MODE_H
#define ORV_MONITOR_RUN_MODE_H

#include <windows.h>

namespace orv {

struct RunMode {
    const char* instance_mutex_name;  // single-instance mutex
    HKEY position_root;               // root of SOFTWARE\ORV\KTRMonitor-Status
    REGSAM parent_access;             // SOFTWARE, ORV and KTRMonitor-msg of the record
    REGSAM record_access;             // the record key 1
    bool prechecks;                   // a supported driver and the record key must exist first
    bool reset_run_marker;            // STS_RUN is set to "0" at exit
};

/* Local mode: the record and the window position under HKEY_LOCAL_MACHINE,
 * opened for reading and writing. reset_run_marker is true here; start-up
 * clears it on the 9x family, where the marker is left alone. */
RunMode LocalModeSettings();

/* Global mode: a mutex name in the global namespace, which is one for
 * the whole machine (all sessions: the users of fast user switching and
 * of a terminal server alike), so one monitor runs on the machine; the
 * window position under HKEY_CURRENT_USER, and the record opened with no
 * more than its installer grants an ordinary user: the parents for
 * reading, key 1 for reading and setting values. */
RunMode GlobalModeSettings();

/* The settings of this run. Until start-up fills it, it holds the local
 * mode's settings. */
extern RunMode g_run_mode;

}  // namespace orv

#endif  // ORV_MONITOR_RUN_MODE_H
