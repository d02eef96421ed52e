#include "uServiceSockets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
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
    FOnAccept = std::move(onAccept);
    FLoop.Watch(FFd, POLLIN, [this](short) { OnReadable(); });
    return true;
}

void TUnixListener::OnReadable() {
    const int fd = ::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
        FRestMs = 0;
        FOnAccept(fd);
        return;
    }
    if (errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM)
        return; // the caller gave up (ECONNABORTED), or nothing is there after all
    // The connection stays queued and the listener readable: asking again at once would spin.
    // Rest, longer each time it fails, and try again.
    const int error = errno;
    FRestMs = FRestMs == 0 ? 50 : std::min(FRestMs * 2, 2000);
    if (FOnShortage)
        FOnShortage(error);
    FLoop.SetEvents(FFd, 0);
    FLoop.After(FRestMs, [this] {
        if (FFd >= 0)
            FLoop.SetEvents(FFd, POLLIN);
    });
}

bool IsAcceptableGuardPath(const std::string& path, std::string* why) {
    if (path.empty() || path[0] != '/') {
        *why = "the path must be absolute";
        return false;
    }
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        *why = "the path is too long for a socket";
        return false;
    }
    for (unsigned char ch : path)
        if (ch < 0x20 || ch == 0x7f) {
            *why = "the path holds control characters";
            return false;
        }
    return true;
}

TControlServer::TControlServer(TPollLoop& loop, TGuardRegistry& guards,
                               std::function<void(const std::string&)> log, TControlLimits limits)
    : FLoop(loop), FGuards(guards), FLog(std::move(log)), FLimits(limits) {
    FListener.SetOnShortage([this](int error) {
        FLog(std::string("cannot accept a control connection: ") + std::strerror(error));
    });
}

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
    // Over the limits: refused at once, so nobody waits for an answer that never comes.
    const bool root = cred.uid == 0;
    if (FPerUser[cred.uid] >= FLimits.PerUser || (!root && FCounted >= FLimits.Total)) {
        ::close(fd);
        if (FPerUser[cred.uid] == 0)
            FPerUser.erase(cred.uid);
        const std::int64_t now = TPollLoop::NowMs();
        if (FLastRefusalLog < 0 || now - FLastRefusalLog > 10000) {
            FLastRefusalLog = now;
            FLog("refused a control connection of user " + std::to_string(cred.uid) +
                 ": too many connections");
        }
        return;
    }
    ++FPerUser[cred.uid];
    if (!root)
        ++FCounted;
    TClient& c = FClients[fd];
    c.Pid = cred.pid;
    c.Uid = cred.uid;
    c.Deadline = FLoop.After(FLimits.RegisterWithinMs, [this, fd] {
        auto it = FClients.find(fd);
        if (it == FClients.end())
            return;
        it->second.Deadline = 0;
        if (it->second.Registrations.empty())
            Drop(fd);
    });
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
        const std::string reply = Handle(fd, c, line);
        (void)!::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

std::string TControlServer::Handle(int fd, TClient& c, const std::string& line) {
    (void)fd;
    if (line.rfind("REGISTER ", 0) == 0) {
        std::string path = line.substr(9);
        std::string why;
        // The guard may register before its socket exists; every question checks the owner again.
        std::shared_ptr<const TGuardFolder> folder;
        bool ok = IsAcceptableGuardPath(path, &why) && (folder = OpenGuardFolder(path, &why)) != nullptr;
        struct stat st {};
        if (ok &&
            ::fstatat(folder->Fd, path.substr(path.rfind('/') + 1).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            ok = IsOwnedSocket(path, c.Uid, &why);
        if (!ok) {
            FLog("refused the registration of process " + std::to_string(c.Pid) + ": " + why);
            return "ERR " + why + "\n";
        }
        if (UserRegistrations(c.Uid) >= kMaxGuardsPerUser && c.Registrations.empty()) {
            FLog("refused the registration of process " + std::to_string(c.Pid) + ": too many guards");
            return "ERR too many guards of this user\n";
        }
        // One registration per connection: a second one replaces the first.
        for (std::uint64_t id : c.Registrations)
            FGuards.Remove(id);
        c.Registrations = {FGuards.Add(c.Pid, c.Uid, path, folder)};
        FLog("guard registered: process " + std::to_string(c.Pid) + ", user " + std::to_string(c.Uid) + ", " +
             path);
        return "OK\n";
    }
    if (line == "FORGET") {
        if (c.Registrations.empty())
            return "ERR not registered\n";
        for (std::uint64_t id : c.Registrations)
            FGuards.Forget(id);
        return "OK\n";
    }
    if (line == "PING")
        return "OK\n";
    return "ERR unknown request\n";
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
    if (it->second.Deadline)
        FLoop.Cancel(it->second.Deadline);
    const uid_t uid = it->second.Uid;
    if (--FPerUser[uid] == 0)
        FPerUser.erase(uid);
    if (uid != 0)
        --FCounted;
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
