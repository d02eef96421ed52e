#pragma once
// A stand-in for the hook service's line feed: one modem line ("ttyGuard0", data modem) and the
// call states a test sends, in the feed's text protocol, on a socket of the test's own.
#include "platform/ITelephony.h"
#include "platform/linux/uLineFeedProtocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

// Accepts one subscription on a thread (the subscriber waits for the header inside its start,
// while the test may be waiting for something else) and then sends what the test says.
class TStandInLineFeed {
public:
    bool Listen(const std::string& path) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof(addr.sun_path))
            return false;
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (FListen < 0 || ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
            ::listen(FListen, 4) != 0)
            return false;
        FAccept = std::thread([this] {
            pollfd p{FListen, POLLIN, 0};
            if (::poll(&p, 1, 30000) != 1)
                return;
            FClient = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            Write(qm::FormatFeedHeader(
                {{.Device = 0, .MediaModes = kLineMediaModeDataModem, .Name = "ttyGuard0"}}));
        });
        return true;
    }
    bool WaitSubscribed() {
        if (FAccept.joinable())
            FAccept.join();
        return FClient >= 0;
    }
    void CallState(std::uint32_t state) {
        Write(qm::FormatFeedCallState({.Device = 0, .Call = 7, .State = state}));
    }
    ~TStandInLineFeed() {
        if (FAccept.joinable()) {
            ::shutdown(FListen, SHUT_RDWR);
            FAccept.join();
        }
        for (int fd : {FClient, FListen})
            if (fd >= 0)
                ::close(fd);
    }

private:
    void Write(const std::string& text) {
        if (FClient >= 0)
            (void)!::send(FClient, text.data(), text.size(), MSG_NOSIGNAL);
    }
    int FListen = -1;
    int FClient = -1;
    std::thread FAccept;
};
