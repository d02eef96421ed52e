#pragma once
// UI port: a timer of the event loop. Tests fire it by hand, so no test waits on wall-clock time.
#include <functional>
#include <memory>

class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void SetInterval(int milliseconds) = 0;
    virtual int Interval() const = 0;
    virtual void SetSingleShot(bool singleShot) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;
    // Called on the event loop's thread at every tick; unset = skipped.
    std::function<void()> OnTimer;
};

class ITimerFactory {
public:
    virtual ~ITimerFactory() = default;
    virtual std::unique_ptr<ITimer> CreateTimer() = 0;
};
