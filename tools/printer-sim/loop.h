/*
 * loop.h - the single-threaded poll() loop that drives the simulator.
 *
 * Everything in the simulator (printers, their connections, the control
 * server and its clients) registers file descriptors and timers here and
 * is called back from one thread, so no state needs a lock. Handlers may
 * add or remove watches and timers, their own included, while they run:
 * a watch or timer removed during a round is never called again, even
 * when its descriptor number is reused at once.
 */
#pragma once

#include <poll.h>

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

class Loop {
public:
    using WatchId = uint64_t;   /* 0 never names a watch */
    using TimerId = uint64_t;   /* 0 never names a timer */
    using IoHandler = std::function<void(short revents)>;
    using TimerHandler = std::function<void()>;

    /* Calls handler with poll()'s revents whenever fd has one of events,
     * or an error or hang-up (which poll() reports even for events 0). */
    WatchId Watch(int fd, short events, IoHandler handler);
    void SetEvents(WatchId id, short events);
    void Unwatch(WatchId id);

    /* One-shot timer, delay_ms from now. */
    TimerId After(int64_t delay_ms, TimerHandler handler);
    void CancelTimer(TimerId id);

    /* Called after every round of the loop, e.g. to re-check conditions
     * that any handler of the round may have changed. */
    void AddRoundHook(std::function<void()> hook);

    /* Runs until Stop() is called; returns false when poll() failed. */
    bool Run();
    void Stop() { stopped_ = true; }

    /* Milliseconds of the monotonic clock. */
    static int64_t NowMs();

private:
    struct Watched {
        int fd;
        short events;
        IoHandler handler;
    };
    using TimerKey = std::pair<int64_t, TimerId>;   /* deadline, id */

    int NextTimeout() const;
    void DispatchIo(const std::vector<pollfd>& fds, const std::vector<WatchId>& ids);
    void DispatchTimers();

    std::unordered_map<WatchId, Watched> watches_;
    std::map<TimerKey, TimerHandler> timers_;
    std::unordered_map<TimerId, int64_t> timer_deadlines_;
    std::vector<std::function<void()>> round_hooks_;
    uint64_t next_id_ = 1;   /* shared by watches and timers */
    bool stopped_ = false;
};
