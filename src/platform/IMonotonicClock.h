#pragma once
// Port: a clock that only moves forward, for intervals (progress throttling, time slices). Unlike
// IClock it does not jump when the wall clock is set. Safe to read from any thread.
#include <cstdint>

class IMonotonicClock {
public:
    virtual ~IMonotonicClock() = default;
    // Milliseconds since an arbitrary fixed point.
    virtual std::int64_t Milliseconds() const = 0;
};
