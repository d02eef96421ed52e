#include "uSdNotify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

bool SdNotify(const std::string& state) {
    const char* name = std::getenv("NOTIFY_SOCKET");
    if (!name || (name[0] != '/' && name[0] != '@'))
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t len = std::strlen(name);
    if (len >= sizeof(addr.sun_path))
        return false;
    std::memcpy(addr.sun_path, name, len);
    if (name[0] == '@')
        addr.sun_path[0] = '\0'; // the abstract namespace: no terminating NUL counts
    const socklen_t size =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len + (name[0] == '/' ? 1 : 0));
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const bool sent =
        ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), size) ==
        static_cast<ssize_t>(state.size());
    ::close(fd);
    return sent;
}

int SdWatchdogPingMs() {
    const char* usec = std::getenv("WATCHDOG_USEC");
    if (!usec)
        return 0;
    if (const char* pid = std::getenv("WATCHDOG_PID"); pid && std::strtol(pid, nullptr, 10) != ::getpid())
        return 0;
    const unsigned long long us = std::strtoull(usec, nullptr, 10);
    if (us == 0)
        return 0;
    const unsigned long long ms = us / 2000;
    return ms == 0 ? 1 : (ms > 3600000 ? 3600000 : static_cast<int>(ms));
}
