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
    int TimerMs = 0;
    TModemLine Line{TModemLine::TActions{
                        [this](std::string_view b) { Device.append(b); },
                        [this](std::string_view b) { Host.append(b); },
                        [this](std::uint32_t, std::uint32_t s) { States.push_back(s); },
                        [this] { return NextCall++; },
                        [this](const TDialAttempt& a) { Asked.push_back(a.Number); },
                        [this](const std::string& t) { Logs.push_back(t); },
                        [this](int ms) { TimerMs = ms; },
                        [this] { return Now; },
                    },
                    Policy};
};

} // namespace

TEST(ModemLine, AllowedDialReachesModemAndReportsCallStates) {
    TLineRig r;
    r.Line.HostBytes("junk\r\nATZ\r");
    EXPECT_EQ(r.Device, "ATZ\r"); // what is no command never reaches the modem
    r.Line.HostBytes("ATDT0202");
    r.Line.ModemBytes("ATZ\r\r\nOK\r\n"); // one line at a time: the next waits for this result
    r.Line.HostBytes("122\rATX4\r");
    EXPECT_EQ(r.Asked, std::vector<std::string>({"0202122"}));
    EXPECT_TRUE(r.Line.WaitingForGuard());
    EXPECT_EQ(r.Device, "ATZ\r"); // held until the guard decides
    r.Line.Decide(TDialDecision::ddAllow);
    // A line typed meanwhile aborts the dial as it would at the modem, and follows its result.
    EXPECT_EQ(r.Device, "ATZ\rATDT0202122\r\r");
    r.Line.ModemBytes("ATDT0202122\r\r\nNO CARRIER\r\n");
    EXPECT_EQ(r.Device, "ATZ\rATDT0202122\r\rATX4\r");
    r.Line.ModemBytes("ATX4\r\r\nOK\r\n");
    r.Line.HostBytes("ATDT0202122\r");
    r.Line.Decide(TDialDecision::ddAllow);
    r.Line.ModemBytes("ATDT0202122\r\r\nCONNECT 33600\r\n");
    EXPECT_TRUE(r.Line.InDataMode());
    r.Line.HostBytes("ATDT999\r"); // data mode is transparent
    EXPECT_EQ(r.Asked.size(), 2u);
    r.Line.ModemBytes("\r\nNO CARRIER\r\n");
    EXPECT_EQ(r.States,
              std::vector<std::uint32_t>({kLineCallStateDialing, kLineCallStateDisconnected,
                                          kLineCallStateIdle, kLineCallStateDialing, kLineCallStateConnected,
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
    r.Line.HostBytes("ATE0V0\r");
    r.Line.ModemBytes("0\r");
    r.Host.clear();
    r.Line.HostBytes("ATDT0700123\r");
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
        const char* FirstLine;
        const char* ModemReply; // after the allowed dial of 123
        const char* HostAfter;
        const char* ModemAfter; // how an aborted dial ended
        std::vector<std::string> Asked;
        std::string DeviceAfter; // what the modem got after the first dial line
    } cases[] = {
        // "ATD...;" answers OK and stays in command mode: the next dial is asked about.
        {"voice dial", "ATDT123;\r", "\r\nOK\r\n", "ATDT0700\r", "", {"123", "0700"}, ""},
        // A byte while dialling aborts the dial; a following dial is still read (the abort is a CR).
        {"abort", "ATDT123\r", "", "ATDT0700\r", "\r\nNO CARRIER\r\n", {"123", "0700"}, "\r"},
        {"abort by another byte",
         "ATDT123\r",
         "",
         "xATDT0700\r",
         "3\r\r\nNO CARRIER\r\n",
         {"123", "0700"},
         "\r"},
    };
    for (const TCase& c : cases) {
        TLineRig r;
        r.Line.HostBytes(c.FirstLine);
        r.Line.Decide(TDialDecision::ddAllow);
        r.Device.clear();
        r.Line.ModemBytes(c.ModemReply);
        r.Line.HostBytes(c.HostAfter);
        r.Line.ModemBytes(c.ModemAfter);
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
    r.Line.HostBytes("ATO\r"); // back to the data once the modem says so
    EXPECT_FALSE(r.Line.InDataMode());
    r.Line.ModemBytes("\r\nCONNECT\r\n");
    EXPECT_TRUE(r.Line.InDataMode());
    r.Line.HostBytes("+++");
    r.Line.ModemBytes("OK\r");
    r.Line.HostBytes("ATH\r"); // hung up from online command mode
    r.Line.ModemBytes("\r\nOK\r\n");
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

// Each way a host once got a dial past the guard. The guard allows 123 and 0202122 only; the
// refused number must never reach the modem, and the line keeps no more than its bound.
TEST(ModemLine, NoDialReachesTheModemUnasked) {
    struct TStep {
        char Kind; // H host bytes, M modem bytes, T the escape timer fires, W hold answers, D answer now
        std::string Bytes;
    };
    struct TCase {
        const char* Name;
        std::vector<TStep> Steps;
        const char* Refused;
    };
    const std::string flood = [] {
        std::string s;
        while (s.size() < 1024 * 1024)
            s += "ATDT0700999\r";
        return s;
    }();
    const TCase cases[] = {
        // (a) the modem's echo of the host's own line taken for a result code
        {"echoed CONNECT",
         {{'H', "ATDT123;\r"},
          {'M', "ATDT123;\r\r\nOK\r\n"},
          {'H', "CONNECT\r"},
          {'M', "CONNECT\r"},
          {'H', "ATDT6668\r"}},
         "6668"},
        {"echoed 1 in numeric mode",
         {{'H', "ATV0\r"},
          {'M', "ATV0\r0\r"},
          {'H', "ATDT123;\r"},
          {'M', "ATDT123;\r0\r"},
          {'H', "1\r"},
          {'M', "1\r"},
          {'H', "ATDT6668\r"}},
         "6668"},
        {"information text read as a numeric CONNECT",
         {{'H', "ATV0\r"}, {'M', "0\r"}, {'H', "ATI0D123\r"}, {'M', "56000\r"}, {'H', "ATDT6668\r"}},
         "6668"},
        // (b) the escape character and its timing
        {"escape character from S2",
         {{'H', "ATS2=42\r"},
          {'M', "OK\r"},
          {'H', "ATDT123\r"},
          {'M', "CONNECT\r"},
          {'H', "***"},
          {'M', "OK\r"},
          {'H', "ATDT6669\r"}},
         "6669"},
        {"a line sent after the guard time, before the escape's OK",
         {{'H', "ATDT123\r"},
          {'M', "\r\nCONNECT\r\n"},
          {'H', "+++"},
          {'T', ""},
          {'H', "xATDT6669\r"},
          {'M', "\r\nOK\r\n"}},
         "6669"},
        {"+++AT without guard time",
         {{'H', "ATDT123\r"}, {'M', "CONNECT\r"}, {'H', "+++ATDT6669\r"}},
         "6669"},
        {"the escape's OK after the wait",
         {{'H', "ATDT123\r"},
          {'M', "CONNECT\r"},
          {'H', "+++"},
          {'T', ""},
          {'M', "OK\r"},
          {'H', "ATDT6669\r"}},
         "6669"},
        {"escape with bit 7 set",
         {{'H', "ATDT123\r"}, {'M', "CONNECT\r"}, {'H', "\xab\xab\xab\xc1TDT6669\r"}},
         "6669"},
        // (c) bit 7 set on the command's letters
        {"bit 7 on the prefix",
         {{'H', "\xc1\xd4\xc4\xd4"
                "0700999\x8d"}},
         "0700999"},
        {"bit 7 on the D",
         {{'H', "AT\xc4"
                "0700999\r"}},
         "0700999"},
        // (d) what the fuzzer found
        {"LF between A and T", {{'H', "A\nTD0700999\r"}}, "0700999"},
        {"second dial of a line", {{'H', "ATD0202122;D0700999\r"}}, "0700999"},
        {"orphan A before a repeat", {{'H', "AA/TD0700999\r"}}, "0700999"},
        {"orphan A before a line", {{'H', "AATD1\rTD0700999\r"}}, "0700999"},
        {"orphan A before an over-long line",
         {{'H', "AAT" + std::string(511, 'x') + "TD0700999\r"}},
         "0700999"},
        {"backspaces over the prefix", {{'H', "AT\b\bD0700999\r"}}, "0700999"},
        {"terminator moved by S3",
         {{'H', "ATS3=33\r"}, {'H', "ATD0700999\rATX!"}, {'H', "ATD0700999!"}},
         "0700999"},
        // (e) a host that sends without end while the guard decides
        {"flood while the guard decides",
         {{'W', ""}, {'H', "ATDT0700111\r"}, {'H', flood}, {'D', ""}},
         "0700999"},
    };
    for (const TCase& c : cases) {
        TLineRig r;
        bool hold = false;
        auto answer = [&r] {
            while (r.Line.WaitingForGuard())
                r.Line.Decide(r.Asked.back() == "123" || r.Asked.back() == "0202122"
                                  ? TDialDecision::ddAllow
                                  : TDialDecision::ddRefuse);
        };
        for (const TStep& s : c.Steps) {
            if (s.Kind == 'H')
                r.Line.HostBytes(s.Bytes);
            else if (s.Kind == 'M')
                r.Line.ModemBytes(s.Bytes);
            else if (s.Kind == 'T')
                r.Line.TimerExpired();
            hold = s.Kind == 'W' || (hold && s.Kind != 'D');
            EXPECT_LE(r.Line.HeldBytes(), TModemLine::kHeldLimit) << c.Name;
            if (!hold)
                answer();
        }
        EXPECT_EQ(r.Device.find(c.Refused), std::string::npos) << c.Name << ": " << r.Device;
        EXPECT_LE(r.Logs.size(), 4u) << c.Name; // one over-long line or flood is logged once
        r.Line.SessionEnded();
        EXPECT_EQ(r.Line.HeldBytes(), 0u) << c.Name;
    }
}
