#include "platform/linux/uLinuxSignals.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
int gPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int) {
    const char byte = 1;
    // Only async-signal-safe calls here; a full pipe already holds a notice.
    [[maybe_unused]] const auto n = ::write(gPipe[1], &byte, 1);
}
} // namespace

int TerminationSignalFd() {
    if (gPipe[0] >= 0)
        return gPipe[0];
    if (::pipe2(gPipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return -1;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    return gPipe[0];
}

void DrainTerminationSignalFd(int fd) {
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}
