#include "uPollLoop.h"

#include <cerrno>
#include <chrono>

std::int64_t TPollLoop::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TPollLoop::Watch(int fd, short events, TFdHandler handler) {
    if (auto it = FIndex.find(fd); it != FIndex.end()) {
        FPollFds[it->second].events = events;
        FWatches[it->second] = {std::move(handler), FNextId++};
        return;
    }
    FIndex[fd] = FPollFds.size();
    FPollFds.push_back({fd, events, 0});
    FWatches.push_back({std::move(handler), FNextId++});
}

void TPollLoop::SetEvents(int fd, short events) {
    if (auto it = FIndex.find(fd); it != FIndex.end())
        FPollFds[it->second].events = events;
}

void TPollLoop::Unwatch(int fd) {
    auto it = FIndex.find(fd);
    if (it == FIndex.end())
        return;
    // The last entry takes the freed place, so the set stays dense.
    const std::size_t i = it->second, last = FPollFds.size() - 1;
    FIndex.erase(it);
    if (i != last) {
        FPollFds[i] = FPollFds[last];
        FWatches[i] = std::move(FWatches[last]);
        FIndex[FPollFds[i].fd] = i;
    }
    FPollFds.pop_back();
    FWatches.pop_back();
}

std::uint64_t TPollLoop::After(int delayMs, std::function<void()> callback) {
    const std::uint64_t id = FNextId++;
    const std::int64_t due = NowMs() + delayMs;
    FTimers.emplace(due, std::make_pair(id, std::move(callback)));
    FTimerDue[id] = due;
    return id;
}

void TPollLoop::Cancel(std::uint64_t timerId) {
    auto due = FTimerDue.find(timerId);
    if (due == FTimerDue.end())
        return;
    auto [from, to] = FTimers.equal_range(due->second);
    for (auto it = from; it != to; ++it)
        if (it->second.first == timerId) {
            FTimers.erase(it);
            break;
        }
    FTimerDue.erase(due);
}

void TPollLoop::RunOnce(int maxWaitMs) {
    int wait = maxWaitMs;
    if (!FTimers.empty()) {
        std::int64_t due = FTimers.begin()->first - NowMs();
        int untilTimer = due < 0 ? 0 : static_cast<int>(due);
        wait = wait < 0 ? untilTimer : std::min(wait, untilTimer);
    }
    int n = ::poll(FPollFds.data(), FPollFds.size(), wait);
    if (n < 0 && errno != EINTR)
        return;
    if (n > 0) {
        // Handlers change the set: take the ready ones first, then call them while they still exist.
        struct TReady {
            int Fd;
            short Revents;
            std::uint64_t Generation;
        };
        std::vector<TReady> ready;
        ready.reserve(static_cast<std::size_t>(n));
        for (std::size_t i = 0; i < FPollFds.size() && ready.size() < static_cast<std::size_t>(n); ++i)
            if (FPollFds[i].revents != 0)
                ready.push_back({FPollFds[i].fd, FPollFds[i].revents, FWatches[i].Generation});
        for (const TReady& r : ready) {
            auto it = FIndex.find(r.Fd);
            if (it == FIndex.end() || FWatches[it->second].Generation != r.Generation)
                continue;
            TFdHandler handler = FWatches[it->second].Handler; // the handler may unwatch itself
            handler(r.Revents);
        }
    }
    std::int64_t now = NowMs();
    while (!FTimers.empty() && FTimers.begin()->first <= now) {
        auto callback = std::move(FTimers.begin()->second.second);
        FTimerDue.erase(FTimers.begin()->second.first);
        FTimers.erase(FTimers.begin());
        callback();
    }
}

void TPollLoop::Run() {
    while (!FQuit)
        RunOnce();
}
