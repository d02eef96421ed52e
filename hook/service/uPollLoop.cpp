#include "uPollLoop.h"

#include <cerrno>
#include <chrono>
#include <poll.h>

std::int64_t TPollLoop::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void TPollLoop::Watch(int fd, short events, TFdHandler handler) {
    FWatches[fd] = {events, std::move(handler), FNextId++};
}

void TPollLoop::SetEvents(int fd, short events) {
    auto it = FWatches.find(fd);
    if (it != FWatches.end())
        it->second.Events = events;
}

void TPollLoop::Unwatch(int fd) {
    FWatches.erase(fd);
}

std::uint64_t TPollLoop::After(int delayMs, std::function<void()> callback) {
    std::uint64_t id = FNextId++;
    FTimers.emplace(NowMs() + delayMs, std::make_pair(id, std::move(callback)));
    return id;
}

void TPollLoop::Cancel(std::uint64_t timerId) {
    for (auto it = FTimers.begin(); it != FTimers.end(); ++it)
        if (it->second.first == timerId) {
            FTimers.erase(it);
            return;
        }
}

void TPollLoop::RunOnce(int maxWaitMs) {
    int wait = maxWaitMs;
    if (!FTimers.empty()) {
        std::int64_t due = FTimers.begin()->first - NowMs();
        int untilTimer = due < 0 ? 0 : static_cast<int>(due);
        wait = wait < 0 ? untilTimer : std::min(wait, untilTimer);
    }
    std::vector<pollfd> fds;
    std::vector<std::uint64_t> generations;
    fds.reserve(FWatches.size());
    for (const auto& [fd, w] : FWatches) {
        fds.push_back({fd, w.Events, 0});
        generations.push_back(w.Generation);
    }
    int n = ::poll(fds.data(), fds.size(), wait);
    if (n < 0 && errno != EINTR)
        return;
    for (std::size_t i = 0; n > 0 && i < fds.size(); ++i) {
        if (fds[i].revents == 0)
            continue;
        auto it = FWatches.find(fds[i].fd);
        if (it == FWatches.end() || it->second.Generation != generations[i])
            continue;
        TFdHandler handler = it->second.Handler; // the handler may unwatch itself
        handler(fds[i].revents);
    }
    std::int64_t now = NowMs();
    while (!FTimers.empty() && FTimers.begin()->first <= now) {
        auto callback = std::move(FTimers.begin()->second.second);
        FTimers.erase(FTimers.begin());
        callback();
    }
}

void TPollLoop::Run() {
    while (!FQuit)
        RunOnce();
}
