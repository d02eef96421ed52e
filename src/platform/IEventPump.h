#pragma once
// UI port: lets a call that must wait (a network transfer, a long check on another thread) keep the
// user interface handling its events meanwhile.
#include <functional>

class IEventPump {
public:
    virtual ~IEventPump() = default;
    // Handles the user interface's pending events, then waits for more, for a Wake, or at most
    // maxWaitMs, whichever comes first. Called on the user-interface thread only.
    virtual void ProcessEvents(int maxWaitMs) = 0;
    // Makes a waiting ProcessEvents return; callable from any thread.
    virtual void Wake() = 0;
};
