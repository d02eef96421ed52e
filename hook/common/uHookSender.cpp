#include "uHookSender.h"

#include "core/uHookFrame.h"
#include "platform/linux/uFd.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qm {
namespace {

using TClock = std::chrono::steady_clock;

struct TOutcome {
    THookSendFailure Failure = THookSendFailure::hsfNone;
    std::string Text;
};

// Milliseconds left before the deadline, -1 when there is none; 0 means the time is up.
int Remaining(const std::optional<TClock::time_point>& deadline) {
    if (!deadline)
        return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - TClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// Waits for the descriptor to become ready for `events`; false with the outcome filled on failure.
bool WaitFor(int fd, short events, const std::optional<TClock::time_point>& deadline, TOutcome& out) {
    for (;;) {
        int left = Remaining(deadline);
        if (left == 0 && deadline) {
            out = {THookSendFailure::hsfTimeout, "the guard did not answer in time"};
            return false;
        }
        pollfd p{fd, events, 0};
        int n = ::poll(&p, 1, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            out = {THookSendFailure::hsfIo, std::string("poll: ") + std::strerror(errno)};
            return false;
        }
        if (n == 0)
            continue; // the deadline check above reports the timeout
        return true;
    }
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size,
              const std::optional<TClock::time_point>& deadline, TOutcome& out) {
    while (size > 0) {
        if (!WaitFor(fd, POLLOUT, deadline, out))
            return false;
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            if (errno == EPIPE || errno == ECONNRESET)
                out = {THookSendFailure::hsfClosed, "the guard closed the connection"};
            else
                out = {THookSendFailure::hsfIo, std::string("send: ") + std::strerror(errno)};
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, std::uint8_t* data, std::size_t size, const std::optional<TClock::time_point>& deadline,
             TOutcome& out) {
    while (size > 0) {
        if (!WaitFor(fd, POLLIN, deadline, out))
            return false;
        ssize_t n = ::recv(fd, data, size, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            if (errno == ECONNRESET)
                out = {THookSendFailure::hsfClosed, "the guard closed the connection before answering"};
            else
                out = {THookSendFailure::hsfIo, std::string("recv: ") + std::strerror(errno)};
            return false;
        }
        if (n == 0) {
            out = {THookSendFailure::hsfClosed, "the guard closed the connection before answering"};
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::int32_t> Exchange(const std::string& socketPath, std::uint32_t dwData,
                                     std::span<const std::uint8_t> payload, int timeoutMs, TOutcome& out) {
    if (payload.size() > kMaxHookFrame) {
        out = {THookSendFailure::hsfTooLarge, "the message is larger than a hook frame may be"};
        return std::nullopt;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof(addr.sun_path)) {
        out = {THookSendFailure::hsfIo, "the socket path is empty or too long: " + socketPath};
        return std::nullopt;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);

    std::optional<TClock::time_point> deadline;
    if (timeoutMs >= 0)
        deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);

    TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.Get() < 0) {
        out = {THookSendFailure::hsfIo, std::string("socket: ") + std::strerror(errno)};
        return std::nullopt;
    }
    // A Unix stream connect completes at once or fails at once (a full backlog blocks, which the
    // deadline of the later steps does not cover; guards keep their backlog drained).
    int rc;
    do {
        rc = ::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        int err = errno;
        struct stat st {};
        bool notSocket = ::stat(socketPath.c_str(), &st) == 0 && !S_ISSOCK(st.st_mode);
        if ((err == ENOENT || err == ECONNREFUSED) && !notSocket)
            out = {THookSendFailure::hsfNoGuard, "no guard is listening on " + socketPath};
        else if (notSocket)
            out = {THookSendFailure::hsfIo, socketPath + " is not a socket"};
        else
            out = {THookSendFailure::hsfIo, "connect " + socketPath + ": " + std::strerror(err)};
        return std::nullopt;
    }

    std::vector<std::uint8_t> frame = EncodeHookFrame(dwData, payload);
    if (!WriteAll(fd.Get(), frame.data(), frame.size(), deadline, out))
        return std::nullopt;
    std::uint8_t answer[4];
    if (!ReadAll(fd.Get(), answer, sizeof(answer), deadline, out))
        return std::nullopt;
    return DecodeHookResult(answer);
}

} // namespace

std::optional<std::int32_t> SendHookFrame(const std::string& socketPath, std::uint32_t dwData,
                                          std::span<const std::uint8_t> payload, int timeoutMs,
                                          std::string* error, THookSendFailure* failure) {
    TOutcome out;
    std::optional<std::int32_t> result = Exchange(socketPath, dwData, payload, timeoutMs, out);
    if (error)
        *error = out.Text;
    if (failure)
        *failure = out.Failure;
    return result;
}

} // namespace qm
