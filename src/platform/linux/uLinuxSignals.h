#pragma once
// The end of the user's work on Linux without a session manager: the session sends SIGTERM (or
// SIGHUP when the terminal goes). These signals are turned into a byte on a pipe, so the event
// loop can answer them like the end-of-work query.
#include "platform/ITerminationSignal.h"

// Installs the handlers once and returns the pipe's reading end (non-blocking); -1 on failure.
int TerminationSignalFd();
// Empties the pipe after a notification.
void DrainTerminationSignalFd(int fd);

// The port over that pipe.
class TLinuxTerminationSignal : public ITerminationSignal {
public:
    TLinuxTerminationSignal() : FFd(TerminationSignalFd()) {}
    std::intptr_t Handle() const override { return FFd < 0 ? kNoTerminationHandle : FFd; }
    void Drain() override {
        if (FFd >= 0)
            DrainTerminationSignalFd(FFd);
    }

private:
    int FFd;
};
