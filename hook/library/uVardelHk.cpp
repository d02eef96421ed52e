// libVardelHk.so: the hook library that the guard loads with dlopen. SetHooks registers the calling
// guard's hook socket with the hook service (vardeld), which then asks that socket about every
// dial on a guarded modem and every program start. The registration lasts while the connection made
// here stays open, that is for the life of the calling process: there is no stop call.
// ForgetStartAnswers tells the service, over that connection, to forget the "not a dialer" answers
// it remembers for this guard: the guard calls it whenever its signature database is reloaded or
// its program-start option changes.
#include "platform/linux/uLinuxPlatform.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kDefaultControlSocket = "/run/vardeld/control.sock";
constexpr int kAnswerTimeoutMs = 3000;
constexpr int kServiceStartMs = 5000;

std::mutex GMutex;
int GRegistration = -1;

std::string ControlSocketPath() {
    const char* env = std::getenv("VARDELD_CONTROL_SOCKET");
    return env && *env ? env : kDefaultControlSocket;
}

int Connect(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof(addr.sun_path))
        return -1;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

// Sends one request line and waits for "OK".
bool Request(int fd, const std::string& request) {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return false;
    std::string reply;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    while (reply.find('\n') == std::string::npos) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            return false;
        char buf[256];
        ssize_t n = ::recv(fd, buf, sizeof(buf), 0);
        if (n <= 0)
            return false;
        reply.append(buf, static_cast<std::size_t>(n));
    }
    return reply.rfind("OK\n", 0) == 0;
}

// Starts the service detached from the caller (its own session, not our child), as root only.
bool StartService(const char* companionPath) {
    if (::geteuid() != 0 || !companionPath || ::access(companionPath, X_OK) != 0)
        return false;
    pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            // Started for a guard, it ends when no guard has needed it for a while; a service
            // the system installed stays.
            ::execl(companionPath, companionPath, "--started-by-guard", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

} // namespace

extern "C" __attribute__((visibility("default"))) bool SetHooks(const char* companionPath) {
    std::lock_guard lock(GMutex);
    const std::string hookSocket = QmRuntimeDir() + "/hook.sock";
    const std::string control = ControlSocketPath();
    int fd = Connect(control);
    if (fd < 0 && StartService(companionPath)) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServiceStartMs);
        while (fd < 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // polling for the service's socket
            fd = Connect(control);
        }
    }
    if (fd < 0)
        return false;
    if (!Request(fd, "REGISTER " + hookSocket + "\n")) {
        ::close(fd);
        return false;
    }
    if (GRegistration >= 0)
        ::close(GRegistration); // a second call replaces the first registration
    GRegistration = fd;
    return true;
}

extern "C" __attribute__((visibility("default"))) bool ForgetStartAnswers() {
    std::lock_guard lock(GMutex);
    return GRegistration >= 0 && Request(GRegistration, "FORGET\n");
}
