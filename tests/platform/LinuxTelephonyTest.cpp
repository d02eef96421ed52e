// The telephony port on Linux against a fake line feed (a socket the test writes by hand), with the
// line monitor on top as the guard runs it.
#include "hook/ServiceRig.h"
#include "support/TempDir.h"

#include "guard/uTapiMonitor.h"
#include "platform/linux/uLinuxTelephony.h"

#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

// Accepts one subscriber, greets it with the header, then sends what the test gives it.
class TFakeFeed {
public:
    TFakeFeed(const std::string& path, std::string header) {
        FListen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
        ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        ::listen(FListen, 4);
        FAccept = std::thread([this, header] {
            FClient = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
            Send(header);
        });
    }
    ~TFakeFeed() {
        ::shutdown(FListen, SHUT_RDWR);
        FAccept.join();
        Close();
        ::close(FListen);
    }
    void Send(const std::string& text) {
        if (FClient >= 0)
            (void)!::send(FClient, text.data(), text.size(), MSG_NOSIGNAL);
    }
    void Close() {
        if (FClient >= 0)
            ::close(FClient);
        FClient = -1;
    }

private:
    int FListen = -1;
    int FClient = -1;
    std::thread FAccept;
};

struct TMonitorRig {
    explicit TMonitorRig(const std::string& feed) : Telephony(feed, 2000), Monitor(Telephony) {
        Monitor.OnCallState = [this](TTapiMonitor&, TCallStateEvent e) {
            Events += e == TCallStateEvent::cseDialing     ? "dialing "
                      : e == TCallStateEvent::cseConnected ? "connected "
                                                           : "idle ";
        };
    }
    // As the shell's notifier does: process the reports while the descriptor is readable.
    bool WaitFor(const std::string& expected) {
        return WaitUntil([&] {
            pollfd p{Monitor.EventFd(), POLLIN, 0};
            if (::poll(&p, 1, 0) > 0)
                Monitor.ProcessReports();
            return Events.size() >= expected.size();
        });
    }
    TLinuxTelephony Telephony;
    TTapiMonitor Monitor;
    std::string Events;
};

} // namespace

TEST(LinuxTelephony, MonitorOpensDataModemLinesAndMapsTheFeedsCallStates) {
    TTempDir dir;
    TFakeFeed feed(dir / "line.sock", "LINES 2\nLINE 0 16 /dev/ttyGuard0\nLINE 1 4 a voice line\n");
    TMonitorRig rig(dir / "line.sock");
    ASSERT_TRUE(rig.Monitor.Start());
    EXPECT_EQ(rig.Monitor.Lines().size(), 1u);
    feed.Send("CALLSTATE 0 7 16\n" // dialing
              "CALLSTATE 1 9 16\n" // a line not opened
              "garbage line\n"
              "CALLSTATE 0 0 1\n"     // idle with a zero handle: nothing
              "CALLSTATE 0 0 256\n"   // connected with a zero handle: nothing
              "CALLSTATE 0 7 2\n"     // offering (ringing): nothing
              "CALLSTATE 0 7 256\n"   // connected
              "CALLSTATE 0 7 64\n"    // busy: nothing
              "CALLSTATE 0 7 16384\n" // disconnected
              "CALLSTATE 0 7 1\n");   // idle
    ASSERT_TRUE(rig.WaitFor("dialing connected idle idle "));
    EXPECT_EQ(rig.Events, "dialing connected idle idle ");
}

TEST(LinuxTelephony, CallsInProgressEndWhenTheServiceGoes) {
    TTempDir dir;
    TFakeFeed feed(dir / "line.sock", "LINES 1\nLINE 0 16 /dev/ttyGuard0\n");
    TMonitorRig rig(dir / "line.sock");
    ASSERT_TRUE(rig.Monitor.Start());
    feed.Send("CALLSTATE 0 5 16\nCALLSTATE 0 5 256\n");
    ASSERT_TRUE(rig.WaitFor("dialing connected "));
    int fd = rig.Monitor.EventFd();
    feed.Close();
    ASSERT_TRUE(rig.WaitFor("dialing connected idle idle "));
    EXPECT_EQ(rig.Events, "dialing connected idle idle ");
    // The descriptor the shell watches stays valid and quiet.
    EXPECT_EQ(rig.Monitor.EventFd(), fd);
    pollfd p{fd, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
}

TEST(LinuxTelephony, WithoutServiceStartFails) {
    TTempDir dir;
    TMonitorRig rig(dir / "nothing.sock");
    EXPECT_FALSE(rig.Monitor.Start());
    EXPECT_EQ(rig.Monitor.LineApp(), 0u);
    TFakeFeed empty(dir / "empty.sock", "LINES 0\n");
    TMonitorRig none(dir / "empty.sock");
    EXPECT_FALSE(none.Monitor.Start()); // a service with no modem
}
