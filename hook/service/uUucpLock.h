#pragma once
// The UUCP lock of a serial device (<lock dir>/LCK..<device name>, the owner's pid as ten ASCII
// digits and a newline), which dialing programs honour before they open a modem. A lock whose owner
// no longer runs is stale and taken over.
#include <string>
#include <sys/types.h>

class TUucpLock {
public:
    TUucpLock(std::string lockDir, const std::string& devicePath);
    ~TUucpLock();
    TUucpLock(const TUucpLock&) = delete;
    TUucpLock& operator=(const TUucpLock&) = delete;

    // False with the reason when another live process holds the lock or it cannot be written.
    bool Acquire(std::string* why);
    void Release();
    bool Held() const { return FHeld; }
    const std::string& Path() const { return FPath; }

    static std::string LockName(const std::string& devicePath);
    // The pid in a lock file's text, 0 when it holds none.
    static pid_t ParseOwner(const std::string& text);

private:
    std::string FPath;
    bool FHeld = false;
};
