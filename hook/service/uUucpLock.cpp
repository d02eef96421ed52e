#include "uUucpLock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TUucpLock::TUucpLock(std::string lockDir, const std::string& devicePath)
    : FPath(std::move(lockDir) + "/" + LockName(devicePath)) {}

TUucpLock::~TUucpLock() {
    Release();
}

std::string TUucpLock::LockName(const std::string& devicePath) {
    // /dev/ttyS0 -> LCK..ttyS0; deeper names keep their folders with '_' (/dev/serial/x -> serial_x).
    std::string name = devicePath.rfind("/dev/", 0) == 0 ? devicePath.substr(5) : devicePath;
    for (char& c : name)
        if (c == '/')
            c = '_';
    return "LCK.." + name;
}

pid_t TUucpLock::ParseOwner(const std::string& text) {
    const char* p = text.c_str();
    while (*p == ' ')
        ++p;
    char* end = nullptr;
    long pid = std::strtol(p, &end, 10);
    if (end == p || pid <= 0 || pid > 0x3fffffff)
        return 0;
    return static_cast<pid_t>(pid);
}

bool TUucpLock::Acquire(std::string* why) {
    if (FHeld)
        return true;
    char content[16];
    std::snprintf(content, sizeof(content), "%10d\n", static_cast<int>(::getpid()));
    std::string tmp = FPath + ".vardeld." + std::to_string(::getpid());
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (why)
                *why = "cannot write " + tmp + ": " + std::strerror(errno);
            return false;
        }
        bool written = ::write(fd, content, 11) == 11;
        ::close(fd);
        // link() is atomic: the lock either appears whole or not at all.
        if (written && ::link(tmp.c_str(), FPath.c_str()) == 0) {
            ::unlink(tmp.c_str());
            FHeld = true;
            return true;
        }
        ::unlink(tmp.c_str());
        int err = errno;
        if (err != EEXIST) {
            if (why)
                *why = "cannot create " + FPath + ": " + std::strerror(err);
            return false;
        }
        char buf[64] = {};
        fd = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t n = ::read(fd, buf, sizeof(buf) - 1);
            buf[n > 0 ? n : 0] = 0;
            ::close(fd);
        }
        pid_t owner = ParseOwner(buf);
        if (owner == ::getpid()) {
            FHeld = true;
            return true;
        }
        if (owner != 0 && (::kill(owner, 0) == 0 || errno == EPERM)) {
            if (why)
                *why = FPath + " is held by process " + std::to_string(owner);
            return false;
        }
        ::unlink(FPath.c_str()); // stale: its owner is gone
    }
    if (why)
        *why = "cannot take over " + FPath;
    return false;
}

void TUucpLock::Release() {
    if (!FHeld)
        return;
    FHeld = false;
    char buf[64] = {};
    int fd = ::open(FPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ssize_t n = ::read(fd, buf, sizeof(buf) - 1);
    buf[n > 0 ? n : 0] = 0;
    ::close(fd);
    if (ParseOwner(buf) == ::getpid())
        ::unlink(FPath.c_str());
}
