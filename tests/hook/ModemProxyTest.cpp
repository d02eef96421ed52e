// The service over a fake Hayes modem, driven by the real chat program as pppd would run it.
#include "FakeHayesModem.h"
#include "ServiceRig.h"
#include "StandInGuard.h"
#include "support/TempDir.h"

#include "core/uHookRecords.h"
#include "guard/uTapiMonitor.h"
#include "platform/linux/uLinuxTelephony.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iomanip>
#include <memory>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr const char* kChat = "/usr/sbin/chat";

// The chat script pppconfig writes, with the number put in.
std::string ProviderScript(const std::string& number) {
    return "ABORT BUSY\nABORT 'NO CARRIER'\nABORT VOICE\nABORT 'NO DIALTONE'\nABORT 'NO DIAL TONE'\n"
           "ABORT 'NO ANSWER'\nABORT DELAYED\nABORT ERROR\n'' ATZ\nOK-AT-OK ATDT" +
           number + "\nCONNECT \\d\\c\n";
}

class ModemProxy : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access(kChat, X_OK) != 0)
            GTEST_SKIP() << "chat (Debian package ppp) is not installed";
        Run = Dir.Path() + "/run";
        Link = Dir.Path() + "/ttyGuard0";
        std::filesystem::create_directories(Dir.Path() + "/lock");
        std::filesystem::create_directories(Dir.Path() + "/etc/ppp/peers");
        std::ofstream(Dir.Path() + "/etc/ppp/peers/provider")
            << "connect \"/usr/sbin/chat -v -f " << Dir.Path() << "/provider.chat\"\n"
            << Link << "\n";
        WriteScript("provider.chat", ProviderScript("0202122"));
        Modem = std::make_unique<TFakeHayesModem>(
            std::map<std::string, std::string>{{"0202122", "CONNECT 33600"}, {"0222", "BUSY"}});
        Guard = std::make_unique<TStandInGuard>(Dir.Path() + "/hook.sock", [](const TStandInFrame& f) {
            qm::TDialRequest r = qm::DecodeDialRequest(f.Payload);
            return r.PhoneNumber.rfind("0700", 0) == 0 ? 1 : 0;
        });
        Service = std::make_unique<TVardeld>(Dir.Path(), Run, Config(Modem->DevicePath()));
        ASSERT_TRUE(Service->Started()) << Service->Log();
        Registration = RegisterGuard(Run + "/control.sock", Guard->Path());
        ASSERT_GE(Registration, 0);
        Telephony = std::make_unique<TLinuxTelephony>(Run + "/line.sock");
        Monitor = std::make_unique<TTapiMonitor>(*Telephony);
        Monitor->OnCallState = [this](TTapiMonitor&, TCallStateEvent e) {
            Events += e == TCallStateEvent::cseDialing     ? "dialing "
                      : e == TCallStateEvent::cseConnected ? "connected "
                                                           : "idle ";
        };
        ASSERT_TRUE(Monitor->Start());
    }
    void TearDown() override {
        Monitor.reset();
        if (Registration >= 0)
            ::close(Registration);
    }

    std::string Config(const std::string& device, const std::string& extra = {}) {
        return "modem = " + device + " " + Link + "\n" + extra + "exec_guard = no\nrun_dir = " + Run +
               "\nlock_dir = " + Dir.Path() + "/lock\netc_dir = " + Dir.Path() + "/etc\n";
    }
    void WriteScript(const std::string& name, const std::string& text) {
        std::ofstream(Dir.Path() + "/" + name) << text;
    }
    int Chat(const std::string& script, int tty = -1) {
        std::vector<std::string> argv = {kChat, "-v", "-s", "-t", "5", "-f", Dir.Path() + "/" + script};
        std::string log = Dir.Path() + "/chat.log";
        return tty >= 0 ? RunOnTerminalFd(argv, tty, log) : RunOnTerminal(argv, Link, log);
    }
    // Takes the reports that have arrived (the shell's notifier does this on the UI thread).
    void Pump() {
        pollfd p{Monitor->EventFd(), POLLIN, 0};
        while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) {
            std::size_t before = Events.size();
            Monitor->ProcessReports();
            if (Events.size() == before)
                break;
        }
    }
    bool WaitEvents(const std::string& expected) {
        return WaitUntil([&] {
            Pump();
            return Events.size() >= expected.size();
        });
    }
    std::vector<qm::TDialRequest> Requests() {
        std::vector<qm::TDialRequest> out;
        for (const TStandInFrame& f : Guard->Frames())
            if (f.DwData == qm::kHookDialRequest)
                out.push_back(qm::DecodeDialRequest(f.Payload));
        return out;
    }

    TTempDir Dir;
    std::string Run, Link;
    std::unique_ptr<TFakeHayesModem> Modem;
    std::unique_ptr<TStandInGuard> Guard;
    std::unique_ptr<TVardeld> Service;
    int Registration = -1;
    std::unique_ptr<TLinuxTelephony> Telephony;
    std::unique_ptr<TTapiMonitor> Monitor;
    std::string Events;
};

} // namespace

TEST_F(ModemProxy, AllowedNumberConnectsAndDtrDropEndsTheCall) {
    int tty = ::open(Link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(tty, 0);
    EXPECT_EQ(Chat("provider.chat", tty), 0) << Service->Log();
    EXPECT_TRUE(Modem->SawDial());
    ASSERT_TRUE(WaitEvents("dialing connected "));
    EXPECT_EQ(Events, "dialing connected ");
    {
        // A guard that starts during the call learns of it at once.
        TLinuxTelephony lateTelephony(Run + "/line.sock");
        TTapiMonitor late(lateTelephony);
        std::string lateEvents;
        late.OnCallState = [&](TTapiMonitor&, TCallStateEvent e) {
            lateEvents += e == TCallStateEvent::cseConnected ? "connected " : "other ";
        };
        ASSERT_TRUE(late.Start());
        EXPECT_TRUE(WaitUntil([&] {
            pollfd p{late.EventFd(), POLLIN, 0};
            if (::poll(&p, 1, 0) > 0)
                late.ProcessReports();
            return !lateEvents.empty();
        }));
        EXPECT_EQ(lateEvents, "connected ");
    }
    // The host hangs up as pppd does: speed 0 drops DTR.
    termios t{};
    ASSERT_EQ(::tcgetattr(tty, &t), 0);
    ::cfsetospeed(&t, B0);
    ASSERT_EQ(::tcsetattr(tty, TCSANOW, &t), 0);
    ASSERT_TRUE(WaitEvents("dialing connected idle idle "));
    EXPECT_EQ(Events, "dialing connected idle idle ");
    EXPECT_TRUE(WaitUntil([&] { return Modem->DtrDropped(); })); // passed on to the device
    ::close(tty);

    std::vector<qm::TDialRequest> requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].PhoneNumber, "0202122");
    EXPECT_EQ(requests[0].EntryName, "provider");
    EXPECT_EQ(requests[0].PhonebookPath, Dir.Path() + "/etc/ppp/peers");
    EXPECT_NE(requests[0].RequestTag, 0u);
}

TEST_F(ModemProxy, RefusedNumberFailsOnNoCarrierAndRepeatsAreAnsweredFromMemory) {
    WriteScript("refused.chat", ProviderScript("0700123"));
    EXPECT_EQ(Chat("refused.chat"), 5) << "chat's code for its second ABORT string, NO CARRIER";
    EXPECT_FALSE(Modem->SawDial());
    EXPECT_EQ(Requests().size(), 1u);
    // The dialer tries again (a new open of the port): answered without asking the guard.
    EXPECT_EQ(Chat("refused.chat"), 5);
    // Repeats within one session read "ERROR".
    WriteScript("twice.chat", "'' ATDT0700123 'NO CARRIER' ATDT0700123 ERROR ''\n");
    EXPECT_EQ(Chat("twice.chat"), 0);
    EXPECT_EQ(Requests().size(), 1u);
    EXPECT_FALSE(Modem->SawDial());
    Pump();
    EXPECT_EQ(Events, ""); // a refused dial never becomes a call
    EXPECT_NE(Service->Log().find("refused again without asking"), std::string::npos);
}

TEST_F(ModemProxy, BusyLineEndsTheCallAndRepeatsKeepTheirTag) {
    WriteScript("busy.chat", ProviderScript("0222"));
    EXPECT_EQ(Chat("busy.chat"), 4) << "chat's code for its first ABORT string, BUSY";
    EXPECT_TRUE(Modem->SawDial());
    ASSERT_TRUE(WaitEvents("dialing idle idle "));
    EXPECT_EQ(Events, "dialing idle idle "); // busy itself raises nothing
    EXPECT_EQ(Chat("busy.chat"), 4);
    std::vector<qm::TDialRequest> requests = Requests();
    ASSERT_EQ(requests.size(), 2u); // allowed dials are asked each time
    EXPECT_EQ(requests[0].RequestTag, requests[1].RequestTag);
    EXPECT_TRUE(requests[0].EntryName.empty());
}

TEST_F(ModemProxy, WithoutGuardTheDefaultRefusesAndIsLogged) {
    ::close(Registration);
    Registration = -1;
    ASSERT_TRUE(WaitUntil([&] { return Service->Log().find("guard gone") != std::string::npos; }));
    EXPECT_EQ(Chat("provider.chat"), 5);
    EXPECT_FALSE(Modem->SawDial());
    EXPECT_EQ(Guard->FrameCount(), 0u);
    EXPECT_NE(Service->Log().find("no guard answered the dial of 0202122"), std::string::npos);
}

TEST_F(ModemProxy, ReloadAndStopKeepLinksAndLocksInStep) {
    TFakeHayesModem second({});
    std::string link2 = Dir.Path() + "/ttyGuard1";
    Service->Rewrite(Config(Modem->DevicePath(), "modem = " + second.DevicePath() + " " + link2 + "\n"));
    Service->Signal(SIGHUP);
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::is_symlink(link2); })) << Service->Log();
    // A configuration that does not parse changes nothing.
    Service->Rewrite("modem = nonsense\n");
    Service->Signal(SIGHUP);
    ASSERT_TRUE(
        WaitUntil([&] { return Service->Log().find("previous configuration stays") != std::string::npos; }));
    EXPECT_TRUE(std::filesystem::is_symlink(link2));
    EXPECT_EQ(Chat("provider.chat"), 0); // the first modem still works
    EXPECT_EQ(Service->Stop(), 0);
    EXPECT_FALSE(std::filesystem::exists(Link));
    EXPECT_FALSE(std::filesystem::exists(link2));
    EXPECT_TRUE(std::filesystem::is_empty(Dir.Path() + "/lock"));
    EXPECT_FALSE(std::filesystem::exists(Run + "/control.sock"));
    EXPECT_FALSE(std::filesystem::exists(Run + "/line.sock"));
}

TEST_F(ModemProxy, CallInProgressEndsWhenTheServiceStops) {
    int tty = ::open(Link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(tty, 0);
    EXPECT_EQ(Chat("provider.chat", tty), 0);
    ASSERT_TRUE(WaitEvents("dialing connected "));
    EXPECT_EQ(Service->Stop(), 0);
    ASSERT_TRUE(WaitEvents("dialing connected idle idle "));
    EXPECT_EQ(Events, "dialing connected idle idle ");
    ::close(tty);
}

TEST_F(ModemProxy, DialOfAStoredNumberNamesTheEntryPppdWasCalledWith) {
    WriteScript("last.chat", "ABORT 'NO ANSWER'\n'' ATDL CONNECT ''\n");
    // pppd runs chat with the port as its stdin and stdout; a shell stands in for "pppd call provider".
    std::string script = std::string(kChat) + " -v -s -t 5 -f " + Dir.Path() + "/last.chat; exit $?";
    EXPECT_EQ(RunOnTerminal({"/bin/sh", "-c", script, "call", "provider"}, Link, Dir.Path() + "/chat.log"),
              4);
    std::vector<qm::TDialRequest> requests = Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].PhoneNumber, "");
    EXPECT_EQ(requests[0].EntryName, "provider");
    EXPECT_EQ(requests[0].PhonebookPath, Dir.Path() + "/etc/ppp/peers");
}

TEST(ModemProxyPort, LockedOrUnopenableModemsAreNotServedBlindly) {
    TTempDir dir;
    std::string run = dir / "run";
    std::filesystem::create_directories(dir / "lock");
    std::filesystem::create_directories(dir / "notadevice");
    TFakeHayesModem locked({});
    // Another live program (this test) holds the lock of the first modem.
    std::string lockName = locked.DevicePath().substr(5);
    std::replace(lockName.begin(), lockName.end(), '/', '_');
    std::ofstream(dir / "lock/LCK.." + lockName) << std::setw(10) << ::getpid() << "\n";
    TVardeld service(dir.Path(), run,
                     "modem = " + locked.DevicePath() + " " + dir / "ttyGuard0" +
                         "\nmodem = " + dir / "notadevice" + " " + dir / "ttyGuard1" +
                         "\nexec_guard = no\nrun_dir = " + run + "\nlock_dir = " + dir / "lock" + "\n");
    ASSERT_TRUE(service.Started());
    EXPECT_TRUE(WaitUntil([&] {
        return service.Log().find("held by process " + std::to_string(::getpid())) != std::string::npos;
    })) << service.Log();
    EXPECT_FALSE(std::filesystem::exists(dir / "ttyGuard0"));
    // A device that cannot be opened hangs the host up instead of swallowing its commands.
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::is_symlink(dir / "ttyGuard1"); }));
    int tty = ::open((dir / "ttyGuard1").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(tty, 0);
    EXPECT_TRUE(WaitUntil([&] {
        char c;
        pollfd p{tty, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && ::read(tty, &c, 1) <= 0;
    }));
    ::close(tty);
    EXPECT_NE(service.Log().find("hanging up the host"), std::string::npos);
}
