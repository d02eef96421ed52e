#pragma once
// Port: one job at a time on a thread of its own, for work that would hold the user-interface
// thread too long (the disk walk). The job must touch only what it was given and hand its results
// back through a queue that the user-interface thread drains; it never reaches the user interface
// or the program's shared objects (the signature database, the settings).
#include <functional>

class IBackgroundJob {
public:
    virtual ~IBackgroundJob() = default;
    // Runs job off the calling thread. A job started before is waited for first.
    virtual void Start(std::function<void()> job) = 0;
    // Waits until the job has returned; nothing when none runs.
    virtual void Join() = 0;
};
