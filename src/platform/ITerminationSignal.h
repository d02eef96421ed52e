#pragma once
// Port: the end of the user's work as the system announces it outside the session manager (on Linux
// SIGTERM, or SIGHUP when the terminal goes). The announcement makes a handle readable, so the event
// loop answers it like the end-of-work query.
#include <cstdint>

inline constexpr std::intptr_t kNoTerminationHandle = -1;

class ITerminationSignal {
public:
    virtual ~ITerminationSignal() = default;
    // The handle the event loop watches for reading; kNoTerminationHandle when there is none to
    // watch (the session manager's query is then the only announcement).
    virtual std::intptr_t Handle() const = 0;
    // Empties the handle after a notification.
    virtual void Drain() = 0;
};
