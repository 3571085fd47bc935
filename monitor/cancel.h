/*
 * cancel.h - the print-cancel request.
 *
 * The monitor does not talk to the spooler to cancel a job: it asks the
 * printer's language monitor, through the status record, which knows
 * where the job stands in the printer. The request is LM_JOB_CANCEL
 * "RQ_CANCEL"; the language monitor answers by clearing DOC_NAME to one
 * or two blanks when the job is gone. The wait blocks the window for at
 * most 10 s by the tick count (bounded_wait.h: 1000 pauses of 10 ms last
 * about 15.6 s on Windows), then the window goes to the notification
 * area.
 */
#ifndef ORV_MONITOR_CANCEL_H
#define ORV_MONITOR_CANCEL_H

#include <windows.h>

#include "state.h"

namespace orv {

constexpr int kCancelReads = 1000;
constexpr DWORD kCancelReadPauseMs = 10;
constexpr DWORD kCancelWaitMs = 10000;

/* Writes the request, waits for the blank document name (at most
 * kCancelReads reads and kCancelWaitMs), and minimises the window. A
 * registry failure ends the request silently; the window then stays as
 * it is. */
void RequestCancel(HWND window, MonitorState& state);

}  // namespace orv

#endif  // ORV_MONITOR_CANCEL_H
