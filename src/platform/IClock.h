#pragma once
// Port: the local wall clock. Tests set the time; nothing in the Qt-free layers reads the system
// clock directly.
#include "util/uDateTime.h"

class IClock {
public:
    virtual ~IClock() = default;
    // The current local date-time.
    virtual qm::TDateTime Now() const = 0;
};
