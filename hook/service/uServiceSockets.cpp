#include "uServiceSockets.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr std::size_t kMaxPending = 64 * 1024;
// Every guard is asked about every dial; one user cannot make the service ask hundreds.
constexpr std::size_t kMaxGuardsPerUser = 8;

} // namespace

int ListenUnix(const std::string& path, mode_t mode, std::string* why) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path)) {
        *why = path + ": path too long";
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        ::unlink(path.c_str()); // left by an earlier run
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::chmod(path.c_str(), mode) != 0 || ::listen(fd, 128) != 0) {
        *why = path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

TUnixListener::~TUnixListener() {
    if (FFd >= 0) {
        FLoop.Unwatch(FFd);
        ::close(FFd);
        ::unlink(FPath.c_str());
    }
}

bool TUnixListener::Listen(const std::string& path, std::function<void(int fd)> onAccept, std::string* why) {
    FFd = ListenUnix(path, 0666, why);
    if (FFd < 0)
        return false;
    FPath = path;
    FLoop.Watch(FFd, POLLIN, [this, onAccept = std::move(onAccept)](short) {
        const int fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0)
            onAccept(fd);
    });
    return true;
}

TControlServer::TControlServer(TPollLoop& loop, TGuardRegistry& guards,
                               std::function<void(const std::string&)> log)
    : FLoop(loop), FGuards(guards), FLog(std::move(log)) {}

TControlServer::~TControlServer() {
    while (!FClients.empty())
        Drop(FClients.begin()->first);
}

bool TControlServer::Listen(const std::string& path, std::string* why) {
    return FListener.Listen(
        path, [this](int fd) { OnAccept(fd); }, why);
}

void TControlServer::OnAccept(int fd) {
    ucred cred{};
    socklen_t len = sizeof(cred);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
        ::close(fd);
        return;
    }
    TClient& c = FClients[fd];
    c.Pid = cred.pid;
    c.Uid = cred.uid;
    FLoop.Watch(fd, POLLIN, [this, fd](short) { OnClient(fd); });
}

void TControlServer::OnClient(int fd) {
    char buf[1024];
    ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        Drop(fd);
        return;
    }
    TClient& c = FClients[fd];
    c.In.append(buf, static_cast<std::size_t>(n));
    if (c.In.size() > 8192) {
        Drop(fd);
        return;
    }
    for (std::size_t nl; (nl = c.In.find('\n')) != std::string::npos;) {
        std::string line = c.In.substr(0, nl);
        c.In.erase(0, nl + 1);
        std::string reply;
        if (line.rfind("REGISTER ", 0) == 0) {
            std::string path = line.substr(9);
            std::string why;
            // The guard may register before its socket exists; every question checks the owner again.
            struct stat st {};
            bool exists = ::lstat(path.c_str(), &st) == 0;
            if (path.empty() || path[0] != '/' || (exists && !IsOwnedSocket(path, c.Uid, &why))) {
                reply = "ERR " + (why.empty() ? std::string("the path must be absolute") : why) + "\n";
                FLog("refused the registration of process " + std::to_string(c.Pid) + ": " +
                     reply.substr(4, reply.size() - 5));
            } else if (UserRegistrations(c.Uid) >= kMaxGuardsPerUser && c.Registrations.empty()) {
                reply = "ERR too many guards of this user\n";
                FLog("refused the registration of process " + std::to_string(c.Pid) + ": too many guards");
            } else {
                // One registration per connection: a second one replaces the first.
                for (std::uint64_t id : c.Registrations)
                    FGuards.Remove(id);
                c.Registrations = {FGuards.Add(c.Pid, c.Uid, path)};
                FLog("guard registered: process " + std::to_string(c.Pid) + ", user " +
                     std::to_string(c.Uid) + ", " + path);
                reply = "OK\n";
            }
        } else if (line == "PING") {
            reply = "OK\n";
        } else {
            reply = "ERR unknown request\n";
        }
        (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

std::size_t TControlServer::UserRegistrations(uid_t uid) const {
    std::size_t n = 0;
    for (const auto& [fd, c] : FClients)
        if (c.Uid == uid)
            n += c.Registrations.size();
    return n;
}

void TControlServer::Drop(int fd) {
    auto it = FClients.find(fd);
    if (it == FClients.end())
        return;
    for (std::uint64_t id : it->second.Registrations) {
        FGuards.Remove(id);
        FLog("guard gone: process " + std::to_string(it->second.Pid));
    }
    FClients.erase(it);
    FLoop.Unwatch(fd);
    ::close(fd);
}

TLineFeed::TLineFeed(TPollLoop& loop, TCurrentStates current) : FLoop(loop), FCurrent(std::move(current)) {}

TLineFeed::~TLineFeed() {
    while (!FClients.empty())
        Drop(FClients.begin()->first);
}

bool TLineFeed::Listen(const std::string& path, std::string* why) {
    return FListener.Listen(
        path, [this](int fd) { OnAccept(fd); }, why);
}

void TLineFeed::OnAccept(int fd) {
    FClients[fd];
    FLoop.Watch(fd, POLLIN, [this, fd](short revents) {
        if (revents & POLLOUT)
            Send(fd, {});
        if (!FClients.count(fd))
            return;
        if (revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[256];
            ssize_t n = ::recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
                Drop(fd); // subscribers send nothing; this is their end
        }
    });
    std::string text = qm::FormatFeedHeader(FLines);
    for (const qm::TFeedCallState& s : FCurrent())
        if (s.Call != 0)
            text += qm::FormatFeedCallState(s);
    Send(fd, text);
}

void TLineFeed::Publish(const qm::TFeedCallState& state) {
    std::string text = qm::FormatFeedCallState(state);
    std::vector<int> fds;
    for (const auto& [fd, pending] : FClients)
        fds.push_back(fd);
    for (int fd : fds)
        Send(fd, text);
}

void TLineFeed::Send(int fd, const std::string& text) {
    auto it = FClients.find(fd);
    if (it == FClients.end())
        return;
    std::string& q = it->second;
    q += text;
    while (!q.empty()) {
        ssize_t n = ::send(fd, q.data(), q.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        q.erase(0, static_cast<std::size_t>(n));
    }
    if (q.size() > kMaxPending) {
        Drop(fd); // a subscriber that does not read loses the feed, not the service
        return;
    }
    FLoop.SetEvents(fd, q.empty() ? POLLIN : POLLIN | POLLOUT);
}

void TLineFeed::Drop(int fd) {
    FClients.erase(fd);
    FLoop.Unwatch(fd);
    ::close(fd);
}
