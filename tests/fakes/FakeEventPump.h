#pragma once
// The event pump of a test: each ProcessEvents plays one "user-interface event" (OnPump), then
// waits for a Wake or the given time, as the real pump does.
#include "platform/IEventPump.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class TFakeEventPump : public IEventPump {
public:
    std::function<void()> OnPump;
    int Calls = 0;

    void ProcessEvents(int maxWaitMs) override {
        ++Calls;
        if (OnPump)
            OnPump();
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait_for(lock, std::chrono::milliseconds(maxWaitMs), [this] { return FWoken; });
        FWoken = false;
    }
    void Wake() override {
        {
            const std::lock_guard<std::mutex> guard(FLock);
            FWoken = true;
        }
        FChanged.notify_all();
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    bool FWoken = false;
};
