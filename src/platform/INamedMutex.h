#pragma once
// Port: a system-wide named object held for the program's life; the program never waits on it.
#include <memory>
#include <string>

class INamedMutex {
public:
    virtual ~INamedMutex() = default;
};

class INamedMutexFactory {
public:
    virtual ~INamedMutexFactory() = default;
    // Creates (or opens) the object; not owned; released when the returned handle goes.
    virtual std::unique_ptr<INamedMutex> Create(const std::string& name) = 0;
};
