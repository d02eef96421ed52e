#pragma once
// An owned file descriptor, closed with the object (or by Reset), and a whole write, for the Linux
// code that works on descriptors: the *at calls on checked folders, sockets, files written whole.
#include <cerrno>
#include <cstddef>
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

// Writes all of data to fd, going on after interruptions and short writes; false on an error
// (errno says which; a write that takes nothing reads as ENOSPC).
inline bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, at, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace qm
