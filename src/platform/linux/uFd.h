#pragma once
// An owned file descriptor, closed with the object (or by Reset), for the Linux code that works
// on descriptors: the *at calls on checked folders, sockets and files read in one go.
#include <unistd.h>

namespace qm {

class TFd {
public:
    explicit TFd(int fd = -1) : FFd(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : FFd(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    // Closes the descriptor held and holds fd instead.
    void Reset(int fd = -1) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }
    // Gives the descriptor up without closing it.
    int Release() {
        const int fd = FFd;
        FFd = -1;
        return fd;
    }

private:
    int FFd;
};

} // namespace qm
