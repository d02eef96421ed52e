#include "uGuardRegistry.h"

#include "core/uHookFrame.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

std::uint64_t TGuardRegistry::Add(pid_t pid, uid_t uid, const std::string& socketPath,
                                  std::shared_ptr<const TGuardFolder> folder) {
    std::lock_guard lock(FMutex);
    FGuards.push_back({FNextId, pid, uid, socketPath, std::move(folder), 0});
    FVersion.fetch_add(1, std::memory_order_release);
    return FNextId++;
}

void TGuardRegistry::Remove(std::uint64_t id) {
    std::lock_guard lock(FMutex);
    std::erase_if(FGuards, [id](const TGuardEntry& g) { return g.Id == id; });
    FVersion.fetch_add(1, std::memory_order_release);
}

void TGuardRegistry::Forget(std::uint64_t id) {
    std::lock_guard lock(FMutex);
    for (TGuardEntry& g : FGuards)
        if (g.Id == id)
            ++g.Epoch;
    FVersion.fetch_add(1, std::memory_order_release);
}

std::size_t TGuardRegistry::Count() const {
    std::lock_guard lock(FMutex);
    return FGuards.size();
}

std::vector<TGuardEntry> TGuardRegistry::Snapshot() const {
    std::lock_guard lock(FMutex);
    return FGuards;
}

namespace {

bool IsOwnedSocketStat(const std::string& path, const struct stat& st, uid_t uid, std::string* why) {
    if (!S_ISSOCK(st.st_mode)) {
        if (why)
            *why = path + " is not a socket";
        return false;
    }
    if (st.st_uid != uid) {
        if (why)
            *why = path + " belongs to another user";
        return false;
    }
    return true;
}

} // namespace

bool IsOwnedSocket(const std::string& path, uid_t uid, std::string* why) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (why)
            *why = path + ": " + std::strerror(errno);
        return false;
    }
    return IsOwnedSocketStat(path, st, uid, why);
}

TGuardFolder::~TGuardFolder() {
    if (Fd >= 0)
        ::close(Fd);
}

namespace {

std::string ReadProcText(const std::string& path) {
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    char buf[8192];
    for (ssize_t n; (n = ::read(fd, buf, sizeof(buf))) > 0;)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    return out;
}

int ConnectChecked(const std::string& path, uid_t uid, std::string* why,
                   const std::function<void()>& afterCheck, int openedFd, const std::string& shown);

// The filesystem type of the mount an open descriptor lies on, from our own /proc tables (asking
// the filesystem itself, statfs, could wait on it).
std::string MountType(int fd) {
    const std::string info = ReadProcText("/proc/self/fdinfo/" + std::to_string(fd));
    const std::size_t at = info.find("mnt_id:");
    if (at == std::string::npos)
        return {};
    const std::string id = std::to_string(std::strtol(info.c_str() + at + 7, nullptr, 10));
    const std::string mounts = ReadProcText("/proc/self/mountinfo");
    for (std::size_t line = 0; line < mounts.size();) {
        std::size_t end = mounts.find('\n', line);
        if (end == std::string::npos)
            end = mounts.size();
        if (mounts.compare(line, id.size() + 1, id + " ") == 0) {
            const std::size_t dash = mounts.find(" - ", line);
            if (dash == std::string::npos || dash > end)
                return {};
            const std::size_t type = dash + 3;
            return mounts.substr(type, mounts.find(' ', type) - type);
        }
        line = end + 1;
    }
    return {};
}

} // namespace

std::shared_ptr<const TGuardFolder> OpenGuardFolder(const std::string& socketPath, std::string* why) {
    const std::size_t slash = socketPath.rfind('/');
    const std::string folder = slash == 0 ? "/" : socketPath.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *why = folder + ": " + std::strerror(errno);
        return nullptr;
    }
    auto held = std::make_shared<const TGuardFolder>(fd);
    const std::string type = MountType(fd);
    static const char* const kHoldable[] = {"fuse", "nfs",  "nfs4", "cifs", "smb3",
                                            "9p",   "ceph", "afs",  "sshfs"};
    for (const char* t : kHoldable)
        if (type == t || type.rfind(std::string(t) + ".", 0) == 0 || type == "fuseblk") {
            *why = folder + " lies on a " + type + " filesystem";
            return nullptr;
        }
    return held;
}

int ConnectOwnedSocketAt(int folder, const std::string& name, uid_t uid, std::string* why) {
    open_how how{};
    how.flags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS;
    int pathFd = static_cast<int>(::syscall(SYS_openat2, folder, name.c_str(), &how, sizeof(how)));
    if (pathFd < 0 && errno == ENOSYS)
        pathFd = name.find('/') == std::string::npos
                     ? ::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)
                     : -1;
    if (pathFd < 0) {
        if (why)
            *why = name + ": " + std::strerror(errno);
        return -1;
    }
    return ConnectChecked({}, uid, why, {}, pathFd, name);
}

int ConnectOwnedSocket(const std::string& path, uid_t uid, std::string* why,
                       const std::function<void()>& afterCheck) {
    return ConnectChecked(path, uid, why, afterCheck, -1, path);
}

namespace {

// Opens path (or takes openedFd, already opened O_PATH), checks that it is a socket of uid, and
// connects through that descriptor. shown names it in why.
int ConnectChecked(const std::string& path, uid_t uid, std::string* why,
                   const std::function<void()>& afterCheck, int openedFd, const std::string& shown) {
    auto fail = [&](int pathFd) {
        if (why && why->empty())
            *why = shown + ": " + std::strerror(errno);
        if (pathFd >= 0)
            ::close(pathFd);
        return -1;
    };
    // O_NOFOLLOW: a symbolic link is opened as itself and then is no socket.
    const int pathFd = openedFd >= 0 ? openedFd : ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (pathFd < 0)
        return fail(-1);
    struct stat st {};
    if (::fstat(pathFd, &st) != 0)
        return fail(pathFd);
    if (!IsOwnedSocketStat(shown, st, uid, why)) {
        ::close(pathFd);
        return -1;
    }
    if (afterCheck)
        afterCheck();
    // Connecting by the descriptor's /proc name reaches the inode that was checked.
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string byFd = "/proc/self/fd/" + std::to_string(pathFd);
    std::memcpy(addr.sun_path, byFd.c_str(), byFd.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(pathFd);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return fail(pathFd);
    }
    ::close(pathFd);
    return fd;
}

} // namespace

TGuardConnectionPool::~TGuardConnectionPool() {
    Keep({});
}

int TGuardConnectionPool::Take(std::uint64_t guardId) {
    auto it = FIdle.find(guardId);
    while (it != FIdle.end() && !it->second.empty()) {
        int fd = it->second.back();
        it->second.pop_back();
        // An idle connection has nothing to read; anything there (the end, stray bytes) spoils it.
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&p, 1, 0) == 0)
            return fd;
        ::close(fd);
    }
    return -1;
}

void TGuardConnectionPool::Give(std::uint64_t guardId, int fd) {
    std::vector<int>& idle = FIdle[guardId];
    if (idle.size() >= 16) {
        ::close(fd);
        return;
    }
    idle.push_back(fd);
}

void TGuardConnectionPool::Keep(const std::vector<TGuardEntry>& guards) {
    for (auto it = FIdle.begin(); it != FIdle.end();) {
        bool live = false;
        for (const TGuardEntry& g : guards)
            live = live || g.Id == it->first;
        if (live) {
            ++it;
            continue;
        }
        for (int fd : it->second)
            ::close(fd);
        it = FIdle.erase(it);
    }
}

TGuardQuery::TGuardQuery(TPollLoop& loop, const std::vector<TGuardEntry>& guards, std::uint32_t dwData,
                         const std::vector<std::uint8_t>& payload, int boundMs,
                         std::function<void(const TGuardVerdict&)> done, TGuardConnectionPool* pool)
    : FLoop(loop), FPool(pool), FDone(std::move(done)) {
    FConstructing = true; // nothing finishes inside the constructor, whatever fails at once
    std::vector<std::uint8_t> frame = qm::EncodeHookFrame(dwData, payload);
    for (const TGuardEntry& g : guards) {
        ++FVerdict.Asked;
        int fd = FPool ? FPool->Take(g.Id) : -1;
        if (fd < 0) {
            std::string why;
            fd = g.Folder ? ConnectOwnedSocketAt(
                                g.Folder->Fd, g.SocketPath.substr(g.SocketPath.rfind('/') + 1), g.Uid, &why)
                          : ConnectOwnedSocket(g.SocketPath, g.Uid, &why);
            if (fd < 0) {
                FVerdict.Detail += why + "; ";
                continue;
            }
        }
        auto call = std::make_unique<TCall>();
        call->Path = g.SocketPath;
        call->GuardId = g.Id;
        call->Fd = fd;
        call->Out = frame;
        TCall* raw = call.get();
        FCalls.push_back(std::move(call));
        ++FOpen;
        FLoop.Watch(fd, POLLOUT, [this, raw](short revents) { OnReady(*raw, revents); });
        OnReady(*raw, POLLOUT); // a local socket takes a small frame at once
    }
    FConstructing = false;
    if (FOpen > 0 && boundMs >= 0)
        FTimer = FLoop.After(boundMs, [this] {
            FTimer = 0;
            FVerdict.TimedOut = true;
            for (auto& c : FCalls)
                if (c->Fd >= 0) {
                    FLoop.Unwatch(c->Fd);
                    ::close(c->Fd);
                    c->Fd = -1;
                }
            FOpen = 0;
            CheckDone();
        });
    if (FOpen == 0) // nobody to wait for: decide on the next round, never inside the constructor
        FTimer = FLoop.After(0, [this] {
            FTimer = 0;
            CheckDone();
        });
}

TGuardQuery::~TGuardQuery() {
    if (FTimer)
        FLoop.Cancel(FTimer);
    for (auto& c : FCalls)
        if (c->Fd >= 0) {
            FLoop.Unwatch(c->Fd);
            ::close(c->Fd);
        }
}

void TGuardQuery::OnReady(TCall& call, short revents) {
    if (call.Sent < call.Out.size()) {
        if (revents & (POLLERR | POLLHUP)) {
            Finish(call, "the guard closed the connection");
            return;
        }
        ssize_t n = ::send(call.Fd, call.Out.data() + call.Sent, call.Out.size() - call.Sent,
                           MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n < 0) {
            Finish(call, std::strerror(errno));
            return;
        }
        call.Sent += static_cast<std::size_t>(n);
        if (call.Sent == call.Out.size())
            FLoop.SetEvents(call.Fd, POLLIN);
        return;
    }
    ssize_t n = ::recv(call.Fd, call.In + call.Received, sizeof(call.In) - call.Received, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        Finish(call, "the guard closed the connection before answering");
        return;
    }
    call.Received += static_cast<std::size_t>(n);
    if (call.Received == sizeof(call.In)) {
        ++FVerdict.Answered;
        if (qm::DecodeHookResult(call.In) != 0)
            FVerdict.Refused = true;
        else
            FVerdict.AllowedBy.push_back(call.GuardId);
        if (FPool) {
            FLoop.Unwatch(call.Fd);
            FPool->Give(call.GuardId, call.Fd);
            call.Fd = -1;
        }
        Finish(call, {});
    }
}

void TGuardQuery::Finish(TCall& call, const std::string& failure) {
    if (!failure.empty())
        FVerdict.Detail += call.Path + ": " + failure + "; ";
    if (call.Fd >= 0) {
        FLoop.Unwatch(call.Fd);
        ::close(call.Fd);
        call.Fd = -1;
    }
    --FOpen;
    CheckDone();
}

void TGuardQuery::CheckDone() {
    if (FOpen > 0 || FFinished || FConstructing)
        return;
    FFinished = true;
    if (FTimer) {
        FLoop.Cancel(FTimer);
        FTimer = 0;
    }
    // The callback may destroy this query: nothing is touched after it.
    auto done = std::move(FDone);
    TGuardVerdict verdict = FVerdict;
    done(verdict);
}
