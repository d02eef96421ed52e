#pragma once
// The one poll-with-deadline of the tests: checks cond until it holds or timeout has passed. Between
// checks it runs idle (a turn of the event loop, for tests whose condition is met by events), or
// sleeps a few milliseconds without one. Never waits longer than timeout plus one idle turn.
#include <chrono>
#include <functional>
#include <thread>

inline bool PollUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout,
                      const std::function<void()>& idle = {}) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (idle)
            idle();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
