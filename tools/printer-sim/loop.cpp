/*
 * loop.cpp - the poll() loop: watches, one-shot timers, round hooks.
 *
 * Each round builds the pollfd array afresh from the live watches, waits
 * until the nearest timer, then calls the handlers of the descriptors that
 * are ready and of the timers that are due. Handlers are looked up by id
 * right before the call and copied first, so a handler may remove itself.
 */
#include "loop.h"

#include <cerrno>
#include <climits>
#include <ctime>

int64_t Loop::NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

Loop::WatchId Loop::Watch(int fd, short events, IoHandler handler) {
    WatchId id = next_id_++;
    watches_[id] = Watched{fd, events, std::move(handler)};
    return id;
}

void Loop::SetEvents(WatchId id, short events) {
    auto it = watches_.find(id);
    if (it != watches_.end())
        it->second.events = events;
}

void Loop::Unwatch(WatchId id) {
    watches_.erase(id);
}

Loop::TimerId Loop::After(int64_t delay_ms, TimerHandler handler) {
    TimerId id = next_id_++;
    int64_t deadline = NowMs() + (delay_ms > 0 ? delay_ms : 0);
    timers_[TimerKey(deadline, id)] = std::move(handler);
    timer_deadlines_[id] = deadline;
    return id;
}

void Loop::CancelTimer(TimerId id) {
    auto it = timer_deadlines_.find(id);
    if (it == timer_deadlines_.end())
        return;
    timers_.erase(TimerKey(it->second, id));
    timer_deadlines_.erase(it);
}

void Loop::AddRoundHook(std::function<void()> hook) {
    round_hooks_.push_back(std::move(hook));
}

int Loop::NextTimeout() const {
    if (timers_.empty())
        return -1;
    int64_t wait = timers_.begin()->first.first - NowMs();
    if (wait <= 0)
        return 0;
    return wait > INT_MAX ? INT_MAX : static_cast<int>(wait);
}

void Loop::DispatchIo(const std::vector<pollfd>& fds, const std::vector<WatchId>& ids) {
    for (size_t i = 0; i < fds.size() && !stopped_; ++i) {
        if (fds[i].revents == 0)
            continue;
        auto it = watches_.find(ids[i]);
        if (it == watches_.end())
            continue;   /* removed earlier in this round */
        IoHandler handler = it->second.handler;
        handler(fds[i].revents);
    }
}

void Loop::DispatchTimers() {
    /* Only the timers due now: one that re-arms itself with no delay runs
     * in the next round, not in a loop here. */
    int64_t now = NowMs();
    std::vector<TimerId> due;
    for (const auto& entry : timers_) {
        if (entry.first.first > now)
            break;
        due.push_back(entry.first.second);
    }
    for (TimerId id : due) {
        if (stopped_)
            return;
        auto deadline = timer_deadlines_.find(id);
        if (deadline == timer_deadlines_.end())
            continue;   /* cancelled by an earlier handler */
        auto it = timers_.find(TimerKey(deadline->second, id));
        TimerHandler handler = std::move(it->second);
        timers_.erase(it);
        timer_deadlines_.erase(deadline);
        handler();
    }
}

bool Loop::Run() {
    std::vector<pollfd> fds;
    std::vector<WatchId> ids;
    while (!stopped_) {
        fds.clear();
        ids.clear();
        for (const auto& entry : watches_) {
            fds.push_back(pollfd{entry.second.fd, entry.second.events, 0});
            ids.push_back(entry.first);
        }
        int ready = poll(fds.data(), fds.size(), NextTimeout());
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0)
            DispatchIo(fds, ids);
        DispatchTimers();
        for (auto& hook : round_hooks_)
            hook();
    }
    return true;
}
