#pragma once
// A small poll(2) reactor: each service thread runs one. Handlers may add and remove watches and
// timers while they run; a watch removed during a round is not called again in that round.
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class TPollLoop {
public:
    using TFdHandler = std::function<void(short revents)>;

    void Watch(int fd, short events, TFdHandler handler);
    void SetEvents(int fd, short events);
    void Unwatch(int fd);
    bool IsWatched(int fd) const { return FWatches.count(fd) != 0; }

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
        short Events;
        TFdHandler Handler;
        std::uint64_t Generation;
    };
    std::map<int, TWatch> FWatches;
    std::multimap<std::int64_t, std::pair<std::uint64_t, std::function<void()>>> FTimers;
    std::uint64_t FNextId = 1;
    bool FQuit = false;
};
