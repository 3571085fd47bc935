/*
 * bounded_wait.h - the monitor's waits made of tries with a short pause
 * between them: the single-instance lock (startup.h) and the print
 * cancel's wait for the language monitor (cancel.h).
 *
 * A pause lasts at least one tick of the system timer: 15.6 ms by default
 * on Windows, so Sleep(10) takes about 15.6 ms there and a wait written
 * as 1000 pauses of 10 ms lasts about 15.6 s instead of 10 s (Wine's
 * Sleep keeps closer to the time asked for). So each wait ends by the
 * elapsed tick count as well as by its number of tries, whichever comes
 * first.
 */
#ifndef ORV_MONITOR_BOUNDED_WAIT_H
#define ORV_MONITOR_BOUNDED_WAIT_H

#include <windows.h>

namespace orv {

/* The clock of the waits: GetTickCount and Sleep. Tests put in a clock
 * whose pauses take longer than asked, as Windows' do. */
struct WaitClock {
    DWORD(WINAPI* tick_count)();
    void(WINAPI* pause)(DWORD);
};

extern WaitClock g_wait_clock;

/* At most `tries` tries and `budget_ms` milliseconds from its creation,
 * with a pause of `pause_ms` between two tries. */
class BoundedWait {
  public:
    BoundedWait(int tries, DWORD budget_ms, DWORD pause_ms);

    /* Called after a try that did not succeed: pauses and returns true
     * when another try may follow, false when the tries or the time are
     * spent (then without pausing). */
    bool PauseBeforeNextTry();

  private:
    int tries_left_;   // tries that may still follow the current one
    DWORD budget_ms_;
    DWORD pause_ms_;
    DWORD start_;      // tick count at the first try
};

}  // namespace orv

#endif  // ORV_MONITOR_BOUNDED_WAIT_H
