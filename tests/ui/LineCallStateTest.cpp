#include "MainWindowFixture.h"

#include "fakes/FakeTelephony.h"
#include "ui/ufStatusTab.h"

#include <QLabel>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The window with a line monitor over the fake telephony port, whose reports wake the event loop
// through a pipe as the real port's socket does.
class TLineCallStateTest : public TMainWindowTest {
protected:
    TFakeTelephony Telephony;
    std::unique_ptr<TTapiMonitor> Monitor;
    int Pipe[2] = {-1, -1};

    void StartWithMonitor() {
        ASSERT_EQ(::pipe2(Pipe, O_NONBLOCK | O_CLOEXEC), 0);
        Telephony.Fd = Pipe[0];
        Telephony.Devices = {{}};
        Monitor = std::make_unique<TTapiMonitor>(Telephony);
        TapiMonitor = Monitor.get();
        Start();
    }
    void Report(std::uint32_t call, std::uint32_t state) {
        Telephony.Pending.push_back({call, kLineCallStateMessage, state});
        (void)!::write(Pipe[1], "r", 1);
    }
    std::string Info() { return Find<QLabel>("lblConnectionInfo")->text().toStdString(); }
    void TearDown() override {
        Monitor.reset(); // as the program ends: the monitor goes before the window
        TMainWindowTest::TearDown();
        ::close(Pipe[0]);
        ::close(Pipe[1]);
    }
};

TEST_F(TLineCallStateTest, ReportsReachTheStatusThroughTheEventLoop) {
    StartWithMonitor();
    EXPECT_EQ(Monitor->Lines().size(), 1u) << "started by the creation sequence";
    EXPECT_EQ(Info(), "Nie połączony");
    Report(7, kLineCallStateDialing);
    ASSERT_TRUE(WaitFor([&] { return Info() == "rozpoczyna połączenie..."; }));
    EXPECT_FALSE(Frm->Subsystems().Connection().Timer().IsActive()) << "dialling changes nothing else";
    Report(7, kLineCallStateConnected);
    ASSERT_TRUE(WaitFor([&] { return Frm->Subsystems().Connection().Timer().IsActive(); }));
    EXPECT_EQ(Info(), "Połączony z numerem:");
    EXPECT_EQ(Frm->TrayState(), trayConnected);
    Report(7, kLineCallStateDisconnected);
    Report(7, kLineCallStateIdle);
    ASSERT_TRUE(WaitFor([&] { return Info() == "Nie połączony"; }));
    EXPECT_FALSE(Frm->Subsystems().Connection().Timer().IsActive());
    EXPECT_NE(std::find(Telephony.Calls.begin(), Telephony.Calls.end(), "Deallocate 7"),
              Telephony.Calls.end());
}

TEST_F(TLineCallStateTest, WithoutTelephonyTheStatusStaysNotConnected) {
    Telephony.InitializeResult = -1;
    StartWithMonitor();
    EXPECT_TRUE(Monitor->Lines().empty());
    EXPECT_EQ(Info(), "Nie połączony");
}

} // namespace
