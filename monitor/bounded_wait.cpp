/*
 * bounded_wait.cpp - a wait of tries bounded by count and by time.
 */
#include "bounded_wait.h"

namespace orv {

WaitClock g_wait_clock = {::GetTickCount, ::Sleep};

BoundedWait::BoundedWait(int tries, DWORD budget_ms, DWORD pause_ms)
    : tries_left_(tries - 1), budget_ms_(budget_ms), pause_ms_(pause_ms), start_(g_wait_clock.tick_count()) {}

bool BoundedWait::PauseBeforeNextTry() {
    if (tries_left_ <= 0)
        return false;
    // Unsigned difference: right across the tick count's wrap after 49.7 days.
    if (g_wait_clock.tick_count() - start_ >= budget_ms_)
        return false;
    --tries_left_;
    g_wait_clock.pause(pause_ms_);
    return true;
}

}  // namespace orv
