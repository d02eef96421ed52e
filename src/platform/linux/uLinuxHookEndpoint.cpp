#include "platform/linux/uLinuxHookEndpoint.h"

#include "util/uQmError.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw EQmError(what + ": " + std::strerror(errno));
}

std::string DirName(const std::string& path) {
    const auto pos = path.find_last_of('/');
    if (pos == std::string::npos)
        return ".";
    return pos == 0 ? "/" : path.substr(0, pos);
}

// The folder must be ours; it is created or tightened to 0700 so nobody else can reach the socket.
void PreparePrivateFolder(const std::string& dir, uid_t me) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        ThrowErrno("cannot create " + dir);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        ThrowErrno("cannot inspect " + dir);
    if (!S_ISDIR(st.st_mode))
        throw EQmError(dir + " is not a folder");
    if (st.st_uid != me)
        throw EQmError(dir + " belongs to another user; refusing to listen there");
    if ((st.st_mode & 07777) != 0700 && ::chmod(dir.c_str(), 0700) != 0)
        ThrowErrno("cannot restrict " + dir + " to its owner");
}

// What is at the socket path already: another user's file is refused and kept; a socket of ours is
// in use by another guard (refused) or left over from one that ended (removed).
void ClearStaleSocket(const std::string& path, const sockaddr_un& addr, uid_t me) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return;
    if (st.st_uid != me)
        throw EQmError(path + " belongs to another user; refusing it");
    if (!S_ISSOCK(st.st_mode))
        throw EQmError(path + " exists and is not a socket");
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool inUse =
        probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    if (probe >= 0)
        ::close(probe);
    if (inUse)
        throw EQmError("another guard is listening on " + path);
    ::unlink(path.c_str());
}

} // namespace

THookHandle TLinuxHookEndpoint::Listen(const std::string& path) {
    const uid_t me = ::geteuid();
    PreparePrivateFolder(DirName(path), me);

    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path))
        throw EQmError("the socket path is too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ClearStaleSocket(path, addr, me);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        ThrowErrno("socket");
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        ThrowErrno("cannot listen on " + path);
    }
    return fd;
}

THookHandle TLinuxHookEndpoint::Accept(THookHandle listener) {
    for (;;) {
        const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0)
            return fd;
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return kNoHookHandle;
        ThrowErrno("accept");
    }
}

THookIoResult TLinuxHookEndpoint::Read(THookHandle connection, std::span<std::uint8_t> buffer) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(connection), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n > 0)
            return {THookIoStatus::hiosDone, static_cast<std::size_t>(n)};
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return {THookIoStatus::hiosWouldBlock, 0};
        return {THookIoStatus::hiosClosed, 0}; // end of input or a reset
    }
}

THookIoResult TLinuxHookEndpoint::Write(THookHandle connection, std::span<const std::uint8_t> bytes) {
    for (;;) {
        // MSG_NOSIGNAL: a sender that left must not end the guard with SIGPIPE.
        const ssize_t n =
            ::send(static_cast<int>(connection), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0)
            return {THookIoStatus::hiosDone, static_cast<std::size_t>(n)};
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return {THookIoStatus::hiosWouldBlock, 0};
        return {THookIoStatus::hiosClosed, 0};
    }
}

void TLinuxHookEndpoint::CloseConnection(THookHandle connection) {
    ::close(static_cast<int>(connection));
}

void TLinuxHookEndpoint::StopListening(THookHandle listener, const std::string& path) {
    ::close(static_cast<int>(listener));
    ::unlink(path.c_str());
}
