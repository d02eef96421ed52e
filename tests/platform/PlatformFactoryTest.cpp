#include "platform/uPlatformFactory.h"

#include <gmock/gmock.h>

#include <csignal>
#include <poll.h>

namespace {
bool Readable(std::intptr_t handle) {
    pollfd entry{static_cast<int>(handle), POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}
} // namespace

// Each end-of-work signal must reach the loop's handle instead of ending the process, and a
// drained handle must not wake the loop again.
TEST(PlatformFactory, TerminationSignalsBecomeAReadableHandle) {
    const auto first = CreateTerminationSignal();
    ASSERT_NE(first->Handle(), kNoTerminationHandle);
    // The handlers are installed once: a second watcher shares the first one's handle.
    const auto second = CreateTerminationSignal();
    EXPECT_EQ(second->Handle(), first->Handle());
    first->Drain();
    EXPECT_FALSE(Readable(first->Handle()));

    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ASSERT_EQ(std::raise(signal), 0);
        EXPECT_TRUE(Readable(first->Handle()));
        first->Drain();
        EXPECT_FALSE(Readable(first->Handle()));
    }
}
