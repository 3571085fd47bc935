/*
 * printer_check.h - finding the default printer and checking that the
 * status monitor can follow it.
 *
 * The monitor follows a printer only through its language monitor, which
 * the supported drivers install and which talks to the printer over a
 * local parallel or USB port. So the check accepts the default printer
 * only when its driver is one of the supported models and its port is an
 * LPTn: or USBnnn port, and it warns when the spooler settings keep the
 * language monitor from hearing the printer (bidirectional support off,
 * paused, offline). When all is well it marks the record as fetching
 * information (status code 100) and, unless a job is printing anyway,
 * sends a short job of zero bytes that wakes the language monitor up.
 *
 * Choices of this implementation (see docs/monitor.md):
 *  - A spooler that fails EnumJobs without setting an error (Wine does so
 *    for every queue) counts as an empty queue.
 *  - A spooler that asks for a larger buffer but names no larger size is
 *    treated like any other enumeration error (a pause and a retry), so
 *    the enumeration cannot loop without end.
 *  - The printer is closed before a message box of the check, not after
 *    the user has closed it.
 */
#ifndef ORV_MONITOR_PRINTER_CHECK_H
#define ORV_MONITOR_PRINTER_CHECK_H

#include <windows.h>
#include <winspool.h>

#include "handles.h"
#include "state.h"

namespace orv {

/* The spooler calls that tests replace where the platform here cannot
 * give the case (a spooler that is not running, a paused printer, a
 * printing job), the pause between tries, and the printer's close (to
 * tell when it happens). They point at the real functions; only tests
 * linking the internal library change them. */
struct SpoolerCalls {
    BOOL(WINAPI* enum_printers)(DWORD, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    BOOL(WINAPI* enum_jobs)(HANDLE, DWORD, DWORD, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    void(WINAPI* pause)(DWORD);
    BOOL(WINAPI* close_printer)(HANDLE) = ::ClosePrinter;
};

extern SpoolerCalls g_spooler_calls;

/* Nonzero while CheckPrinter runs; the restore action of the status
 * window skips its check then. The caller of CheckPrinter clears it. */
extern int g_printer_check_running;

/* Results of EnumeratePrinters. */
constexpr int kEnumDone = 0;
constexpr int kEnumFailed = 2;  // its message was shown

/* Results of CheckPrinter. */
constexpr int kCheckReady = 0;     // the record holds status code 100
constexpr int kCheckReported = 1;  // a problem was shown; the monitor goes on
constexpr int kCheckFatal = 2;     // an error was shown; the process must end

/* Caption of every message box of the monitor, and the text that ends
 * the program when no supported driver is installed. */
extern const char kMessageCaption[];
extern const char kNoDriverText[];

/* Shows an error message box of the monitor: no owner, the caption
 * above, task-modal and in the foreground. */
void ShowMonitorMessage(const char* text);

/* The local printers and printer connections, level 2. On kEnumDone the
 * entries are in `buffer` (PRINTER_INFO_2A) and `*count` tells how many.
 * A spooler that fails is retried every second, 60 times. */
int EnumeratePrinters(LocalBuffer& buffer, DWORD* count);

/* Whether a driver name is one of the supported models, compared in full
 * and case-sensitively. */
bool IsSupportedDriver(const char* driver_name);

/* Whether a port name is LPT0: to LPT99: or USB000 to USB099. */
bool IsAcceptedPort(const char* port_name);

/* 1 when an installed printer has a supported driver, else 0; the
 * enumeration's result goes to *enum_result (kEnumFailed: its message
 * was shown). */
int FindSupportedDriver(int* enum_result);

/* 1 when a job of the open printer is printing, 0 when none is, -1 on an
 * error or a null handle. Deleted, deleting and printed jobs are passed
 * over. */
int FindPrintingJob(HANDLE printer);

/* The printer check (sets g_printer_check_running): kCheckReady,
 * kCheckReported or kCheckFatal. Writes ERR_CODE "0" when it reports a
 * spooler setting, and "100" (with the state's current and previous
 * codes) when the printer is ready. */
int CheckPrinter(MonitorState& state);

}  // namespace orv

#endif  // ORV_MONITOR_PRINTER_CHECK_H
