#pragma once
// A small poll(2) reactor: each service thread runs one. Handlers may add and remove watches and
// timers while they run; a watch removed during a round is not called again in that round. The
// poll set is kept between rounds and changed in place, so a round costs what poll itself costs.
#include <cstdint>
#include <functional>
#include <map>
#include <poll.h>
#include <unordered_map>
#include <vector>

class TPollLoop {
public:
    using TFdHandler = std::function<void(short revents)>;

    void Watch(int fd, short events, TFdHandler handler);
    void SetEvents(int fd, short events);
    void Unwatch(int fd);
    bool IsWatched(int fd) const { return FIndex.count(fd) != 0; }
    std::size_t Watched() const { return FPollFds.size(); }

    // Runs once, no earlier than delayMs from now, on this loop's thread. Returns an id for Cancel.
    std::uint64_t After(int delayMs, std::function<void()> callback);
    void Cancel(std::uint64_t timerId);

    // One round: waits at most maxWaitMs (-1: until something happens) and runs what is due.
    void RunOnce(int maxWaitMs = -1);
    void Run();
    void Quit() { FQuit = true; }
    bool Quitting() const { return FQuit; }

    static std::int64_t NowMs();

private:
    struct TWatch {
        TFdHandler Handler;
        std::uint64_t Generation;
    };
    // FPollFds[i] and FWatches[i] belong together; FIndex finds i from the descriptor.
    std::vector<pollfd> FPollFds;
    std::vector<TWatch> FWatches;
    std::unordered_map<int, std::size_t> FIndex;
    std::multimap<std::int64_t, std::pair<std::uint64_t, std::function<void()>>> FTimers;
    std::unordered_map<std::uint64_t, std::int64_t> FTimerDue; // id -> due time, for Cancel
    std::uint64_t FNextId = 1;
    bool FQuit = false;
};
