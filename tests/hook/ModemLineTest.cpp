#include "platform/ITelephony.h"
#include "uModemLine.h"

#include <gtest/gtest.h>

namespace {

// Drives the line logic the way the proxy does, recording what reaches each side.
struct TLineRig {
    std::int64_t Now = 1000;
    TDialPolicy Policy{[this] {
        return Now;
    }};
    std::string Device, Host;
    std::vector<std::uint32_t> States;
    std::vector<std::string> Asked;
    std::vector<std::string> Logs;
    std::uint32_t NextCall = 1;
    TModemLine Line{TModemLine::TActions{
                        [this](std::string_view b) { Device.append(b); },
                        [this](std::string_view b) { Host.append(b); },
                        [this](std::uint32_t, std::uint32_t s) { States.push_back(s); },
                        [this] { return NextCall++; },
                        [this](const TDialAttempt& a) { Asked.push_back(a.Number); },
                        [this](const std::string& t) { Logs.push_back(t); },
                    },
                    Policy};
};

} // namespace

TEST(ModemLine, AllowedDialReachesModemAndReportsCallStates) {
    TLineRig r;
    r.Line.HostBytes("ATZ\r");
    EXPECT_EQ(r.Device, "ATZ\r");
    r.Line.HostBytes("ATDT0202122\rjunk");
    EXPECT_EQ(r.Asked, std::vector<std::string>({"0202122"}));
    EXPECT_TRUE(r.Line.WaitingForGuard());
    EXPECT_EQ(r.Device, "ATZ\r"); // held until the guard decides
    r.Line.Decide(TDialDecision::ddAllow);
    EXPECT_EQ(r.Device, "ATZ\rATDT0202122\rjunk"); // bytes typed meanwhile follow the dial
    r.Line.ModemBytes("ATDT0202122\r\r\nCONNECT 33600\r\n");
    EXPECT_TRUE(r.Line.InDataMode());
    r.Line.HostBytes("ATDT999\r"); // data mode is transparent
    EXPECT_EQ(r.Asked.size(), 1u);
    r.Line.ModemBytes("\r\nNO CARRIER\r\n");
    EXPECT_EQ(r.States, std::vector<std::uint32_t>({kLineCallStateDialing, kLineCallStateConnected,
                                                    kLineCallStateDisconnected, kLineCallStateIdle}));
    EXPECT_FALSE(r.Line.InDataMode());
    EXPECT_EQ(r.Line.Call(), 0u);
}

TEST(ModemLine, FailedDialsEndTheCall) {
    struct TCase {
        const char* Reply;
        std::vector<std::uint32_t> States;
    } cases[] = {
        {"\r\nBUSY\r\n",
         {kLineCallStateDialing, kLineCallStateBusy, kLineCallStateDisconnected, kLineCallStateIdle}},
        {"\r\nNO DIALTONE\r\n", {kLineCallStateDialing, kLineCallStateDisconnected, kLineCallStateIdle}},
        {"\r\nNO ANSWER\r\n", {kLineCallStateDialing, kLineCallStateDisconnected, kLineCallStateIdle}},
        {"\r\nERROR\r\n", {kLineCallStateDialing, kLineCallStateDisconnected, kLineCallStateIdle}},
        {"\r\nOK\r\n", {kLineCallStateDialing}},
    };
    for (const TCase& c : cases) {
        TLineRig r;
        r.Line.HostBytes("ATDT5\r");
        r.Line.Decide(TDialDecision::ddAllow);
        r.Line.ModemBytes(c.Reply);
        EXPECT_EQ(r.States, c.States) << c.Reply;
    }
}

TEST(ModemLine, RefusalsAnswerNoCarrierThenErrorAndAreRemembered) {
    TLineRig r;
    r.Line.HostBytes("ATDT0700123\r");
    r.Line.Decide(TDialDecision::ddRefuse);
    EXPECT_EQ(r.Device, "");
    EXPECT_EQ(r.Host, "ATDT0700123\r\r\nNO CARRIER\r\n"); // echo, then the result
    r.Host.clear();
    // A repeat within the minute is answered without asking, and as a repeat in the session: ERROR.
    r.Now += 59000;
    r.Line.HostBytes("ATDT0700123\r");
    EXPECT_EQ(r.Asked.size(), 1u);
    EXPECT_EQ(r.Host, "ATDT0700123\r\r\nERROR\r\n");
    // A new session starts again with NO CARRIER, still from memory.
    r.Line.SessionEnded();
    r.Host.clear();
    r.Line.HostBytes("ATE0V0\rATDT0700123\r");
    EXPECT_EQ(r.Asked.size(), 1u);
    EXPECT_EQ(r.Device, "ATE0V0\r");
    EXPECT_EQ(r.Host, "3\r"); // no echo, numeric NO CARRIER
    // After the minute the guard is asked again.
    r.Now += 1001;
    r.Line.HostBytes("ATDT0700123\r");
    EXPECT_EQ(r.Asked.size(), 2u);
    EXPECT_TRUE(r.States.empty());
}

TEST(ModemLine, NoGuardRefusalIsNotRememberedAndRepeatsAreAskedAgain) {
    TLineRig r;
    r.Line.HostBytes("ATDT111\r");
    r.Line.Decide(TDialDecision::ddNoGuardRefuse);
    EXPECT_NE(r.Host.find("NO CARRIER"), std::string::npos);
    r.Line.HostBytes("ATDT111\r");
    EXPECT_EQ(r.Asked.size(), 2u);
    // "A/" repeats the last line, which is a dial again.
    r.Line.Decide(TDialDecision::ddNoGuardAllow);
    r.Line.ModemBytes("\r\nNO ANSWER\r\n");
    r.Line.HostBytes("A/");
    EXPECT_EQ(r.Asked.size(), 3u);
    r.Line.Decide(TDialDecision::ddAllow);
    EXPECT_EQ(r.Device, "ATDT111\rATDT111\r"); // the line itself: the modem never saw the refused one
}

TEST(ModemLine, CallEndsOnDtrDropAndPortClose) {
    TLineRig r;
    r.Line.HostBytes("ATD123\r");
    r.Line.Decide(TDialDecision::ddAllow);
    r.Line.ModemBytes("CONNECT\r");
    r.Line.CallEnded("the host dropped DTR");
    r.Line.CallEnded("again"); // no call: nothing
    r.Line.HostBytes("ATDL\r");
    EXPECT_EQ(r.Asked.back(), ""); // the last number is unknown to us
    r.Line.Decide(TDialDecision::ddAllow);
    r.Line.SessionEnded();
    EXPECT_EQ(r.States, std::vector<std::uint32_t>({kLineCallStateDialing, kLineCallStateConnected,
                                                    kLineCallStateDisconnected, kLineCallStateIdle,
                                                    kLineCallStateDialing, kLineCallStateDisconnected,
                                                    kLineCallStateIdle}));
}

TEST(ModemLine, OverlongCommandLineIsAnsweredError) {
    TLineRig r;
    r.Line.HostBytes("AT" + std::string(600, 'X') + "DT123\r");
    EXPECT_TRUE(r.Asked.empty());
    EXPECT_NE(r.Host.find("ERROR"), std::string::npos);
}

TEST(ModemLine, CommandsAfterADialAreStillRead) {
    struct TCase {
        const char* Name;
        const char* ModemReply; // after the allowed dial of 123
        const char* HostAfter;
        std::vector<std::string> Asked;
        std::string DeviceAfter; // what the modem got after the first dial line
    } cases[] = {
        // "ATD...;" answers OK and stays in command mode: the next dial is asked about.
        {"voice dial", "\r\nOK\r\n", "ATDT0700\r", {"123", "0700"}, ""},
        // A byte while dialling aborts the dial; a following dial is still read (the abort is a CR).
        {"abort", "", "ATDT0700\r", {"123", "0700"}, "\r"},
        {"abort by another byte", "", "xATDT0700\r", {"123", "0700"}, "x"},
    };
    for (const TCase& c : cases) {
        TLineRig r;
        r.Line.HostBytes("ATDT123;\r");
        r.Line.Decide(TDialDecision::ddAllow);
        r.Device.clear();
        r.Line.ModemBytes(c.ModemReply);
        r.Line.HostBytes(c.HostAfter);
        EXPECT_EQ(r.Asked, c.Asked) << c.Name;
        EXPECT_EQ(r.Device, c.DeviceAfter) << c.Name; // the new dial waits for the guard
        r.Line.Decide(TDialDecision::ddRefuse);
        EXPECT_EQ(r.Device, c.DeviceAfter) << c.Name;
    }
}

TEST(ModemLine, EscapeHangUpAndOnlineCommandsFollowTheCall) {
    TLineRig r;
    r.Line.HostBytes("ATDT123\r");
    r.Line.Decide(TDialDecision::ddAllow);
    r.Line.ModemBytes("\r\nCONNECT\r\n");
    r.Line.ModemBytes("\r\nOK\r\n"); // an OK in the data is just data
    EXPECT_TRUE(r.Line.InDataMode());
    r.Line.HostBytes("+++");
    r.Line.ModemBytes("\r\nOK\r\n"); // the escape: online command mode
    EXPECT_FALSE(r.Line.InDataMode());
    r.Line.HostBytes("ATO\r"); // back to the data
    EXPECT_TRUE(r.Line.InDataMode());
    r.Line.HostBytes("+++");
    r.Line.ModemBytes("OK\r");
    r.Line.HostBytes("ATH\r"); // hung up from online command mode
    r.Line.HostBytes("ATDT0700\r");
    EXPECT_EQ(r.Asked, std::vector<std::string>({"123", "0700"})); // and a new dial is asked about
    r.Line.Decide(TDialDecision::ddRefuse);
    r.Line.HostBytes("ATDT123;\r");
    r.Line.Decide(TDialDecision::ddAllow);
    r.Line.ModemBytes("\r\nOK\r\n");
    r.Line.HostBytes("ATH\r");
    EXPECT_EQ(r.States, std::vector<std::uint32_t>({kLineCallStateDialing, kLineCallStateConnected,
                                                    kLineCallStateDisconnected, kLineCallStateIdle,
                                                    kLineCallStateDialing, kLineCallStateDisconnected,
                                                    kLineCallStateIdle}));
    EXPECT_TRUE(ScanAtLine("ATH0").HangUp);
    EXPECT_FALSE(ScanAtLine("ATH1").HangUp); // off hook: no hang-up
    EXPECT_TRUE(ScanAtLine("ATO").Online);
}
