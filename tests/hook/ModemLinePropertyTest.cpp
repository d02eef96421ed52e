// Generated host byte streams against a software modem: whatever the host sends (command lines
// with echo on and off, numeric results, moved escape characters and terminators, escapes with and
// without guard time, bit 7 set, writes split anywhere), the modem never dials a number the guard
// did not allow.
#include "FakeHayesModem.h"
#include "uModemLine.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace {

// What a dial sends down the line: its tones and pulses, whatever shapes them.
std::string Normalised(const std::string& dial) {
    std::string out;
    for (char c : dial) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c) & 0x7f));
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#' || (c >= 'A' && c <= 'D'))
            out += c;
    }
    return out;
}

class TPropertyRig {
public:
    explicit TPropertyRig(std::uint32_t seed) : FRandom(seed) {
        Modem.Outcome = [this](const std::string&) {
            static const char* outcomes[] = {"CONNECT", "CONNECT", "BUSY", "NO CARRIER", "NO ANSWER"};
            return std::string(outcomes[Pick(5)]);
        };
    }

    void Run(int steps) {
        for (int i = 0; i < steps; ++i) {
            std::string bytes = HostStep();
            // Split anywhere, a little time between the pieces.
            while (!bytes.empty()) {
                std::size_t n = 1 + Pick(static_cast<int>(bytes.size()));
                Line.HostBytes(std::string_view(bytes).substr(0, n));
                bytes.erase(0, n);
                Pump();
                Pass(Pick(3) == 0 ? Pick(40) : 0);
            }
            if (Pick(3) == 0)
                Pass(std::vector<int>{0, 20, 300, 1100, 2500}[Pick(5)]);
            if (Line.WaitingForGuard() && Pick(2) == 0) {
                Answer();
                Pass(0); // the dial's outcome, before the host goes on
            }
        }
        while (Line.WaitingForGuard())
            Answer();
        Pass(5000);
    }

    THayesModel Modem;
    std::set<std::string> Allowed;

private:
    int Pick(int n) { return static_cast<int>(FRandom() % static_cast<std::uint32_t>(n)); }

    void Answer() {
        // Some numbers are never allowed, so that a dial of one that reaches the modem is caught
        // even after other dials were allowed.
        static const std::set<std::string> allowable = {"123", "0202122", ""};
        const bool allow = allowable.count(Normalised(FAsked)) && Pick(3) != 0;
        if (allow)
            Allowed.insert(Normalised(FAsked));
        Line.Decide(allow ? TDialDecision::ddAllow : TDialDecision::ddRefuse);
        Pump();
    }

    void Pass(int ms) {
        FNow += ms;
        if (FTimerAt != 0 && FNow >= FTimerAt) {
            FTimerAt = 0;
            Line.TimerExpired();
        }
        Modem.Advance(FNow);
        // Now and then the remote's data looks like a result code; the line must stay safe.
        if (Modem.Online() && Pick(150) == 0)
            Line.ModemBytes(
                std::vector<std::string>{"\r\nNO CARRIER\r\n", "\r\nOK\r\n", "3\r", "0\r"}[Pick(4)]);
        Pump();
    }

    void Pump() {
        for (int i = 0; i < 8; ++i) {
            std::string out = Modem.TakeOutput();
            if (out.empty())
                return;
            Line.ModemBytes(out);
        }
    }

    char Terminator() { return std::vector<char>{'\r', '\r', '\r', '!', '\n'}[Pick(5)]; }

    std::string Number() {
        static const char* numbers[] = {"123", "0700999", "6668", "5", "0202122", "L", "S=1", ""};
        return numbers[Pick(8)];
    }

    std::string Command() {
        static const char* settings[] = {"E0",    "E1",
                                         "V0",    "V1",
                                         "Q0",    "S2=42",
                                         "S2=43", "S3=33",
                                         "S3=13", "S12=0",
                                         "S12=5", "S5=8",
                                         "X4",    "&C1",
                                         "I0",    "H",
                                         "O",     "Z",
                                         "&F",    " ",
                                         "S2?",   "+CGDCONT=1,\"IP\",\"x\";",
                                         "A",     "Q1"};
        std::string line = std::vector<std::string>{"AT", "at", "aT", "AAT", "A\nT", "A T"}[Pick(6)];
        for (int n = Pick(4); n >= 0; --n) {
            if (Pick(3) == 0)
                line += std::vector<std::string>{"D", "DT", "dt", "D "}[Pick(4)] + Number() +
                        (Pick(2) ? ";" : "");
            else
                line += settings[Pick(sizeof(settings) / sizeof(settings[0]))];
        }
        return line + Terminator();
    }

    std::string HostStep() {
        std::string s;
        switch (Pick(10)) {
        case 0:
            s = std::vector<std::string>{
                "CONNECT\r", "1\r", "OK\r", "0\r", "3\r", "xyz", "\r\n", "A"}[Pick(8)];
            break;
        case 1: {
            const char escape = Pick(2) ? '+' : '*';
            s = std::string(3, escape);
            if (Pick(2))
                s += Command();
            break;
        }
        case 2:
            s = std::vector<std::string>{"A/", "a/", "AA/"}[Pick(3)];
            break;
        default:
            s = Command();
            break;
        }
        // Mutations: bit 7, backspaces, stray line feeds.
        for (char& c : s)
            if (Pick(25) == 0)
                c = static_cast<char>(static_cast<unsigned char>(c) | 0x80);
        if (!s.empty() && Pick(8) == 0)
            s.insert(static_cast<std::size_t>(Pick(static_cast<int>(s.size()))), Pick(2) ? "\b" : "x\b");
        return s;
    }

    std::mt19937 FRandom;
    std::int64_t FNow = 0;
    std::int64_t FTimerAt = 0;
    std::string FAsked;
    TDialPolicy FPolicy{[this] {
        return FNow;
    }};
    std::uint32_t FCalls = 0;

public:
    TModemLine Line{TModemLine::TActions{
                        [this](std::string_view b) { Modem.Receive(b, FNow); },
                        [](std::string_view) {},
                        [](std::uint32_t, std::uint32_t) {},
                        [this] { return ++FCalls; },
                        [this](const TDialAttempt& a) { FAsked = a.DialString; },
                        [](const std::string&) {},
                        [this](int ms) { FTimerAt = FNow + ms; },
                        [this] { return FNow; },
                    },
                    FPolicy};
};

} // namespace

// QM_MODEM_SEEDS=FIRST-LAST runs other streams (a failure names its seed).
TEST(ModemLineProperty, ModemDialsOnlyWhatTheGuardAllowed) {
    std::uint32_t first = 1, last = 20000;
    if (const char* range = std::getenv("QM_MODEM_SEEDS"))
        std::sscanf(range, "%u-%u", &first, &last);
    int dials = 0;
    for (std::uint32_t seed = first; seed <= last; ++seed) {
        TPropertyRig rig(seed);
        rig.Run(40);
        for (const std::string& d : rig.Modem.Dials()) {
            ++dials;
            ASSERT_TRUE(rig.Allowed.count(Normalised(d)))
                << "seed " << seed << ": the modem dialled \"" << d << "\" unasked";
        }
    }
    EXPECT_GT(dials, static_cast<int>(last - first) / 4); // the streams do reach the modem
}
