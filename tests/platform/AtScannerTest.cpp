#include "platform/linux/uAtScanner.h"

#include <gtest/gtest.h>

TEST(AtScanner, FindsDialsAsAModemReadsThem) {
    struct TCase {
        const char* Line;
        bool IsCommand;
        std::vector<std::string> Numbers; // "?" = a dial of no known number
    } cases[] = {
        {"ATDT0202122", true, {"0202122"}},
        {"atdt 0-20 (21) 22", true, {"0202122"}},
        {"ATZ", true, {}},
        {"AT&D2&C1 S7=60 DT0202122", true, {"0202122"}},      // prefixed commands and S-registers first
        {"ATS0=0 X3 M1 L2 DP0,W0202122", true, {"00202122"}}, // pulse, pause and wait modifiers
        {"AT&F&D2", true, {}},                                // &D2 is not a dial
        {"AT+CGDCONT=1,\"IP\",\"D123\";D*99#", true, {"*99#"}},
        {"ATDL", true, {"?"}}, // the last number: unknown here
        {"ATDTL", true, {"?"}},
        {"ATDS=2", true, {"?"}}, // a stored number
        {"ATD>home", true, {"?"}},
        {"ATD", true, {"?"}},
        {"ATDT+48221234567", true, {"+48221234567"}},
        {"ATDT123;DT456", true, {"123", "456"}}, // ';' returns to command mode
        {"ATE0V1DT123", true, {"123"}},
        {"ATI4", true, {}},
        {"xyzATDT999", true, {"999"}}, // text before the prefix is skipped
        {"hello", false, {}},
        {"ATDT12\b3", true, {"13"}}, // backspace edits the line
        {"ATS2=43", true, {}},       // the value of S2 is not a dial
        {"AT\\N3%C0DT777", true, {"777"}},
    };
    for (const TCase& c : cases) {
        TAtLine line = ScanAtLine(c.Line);
        EXPECT_EQ(line.IsCommand, c.IsCommand) << c.Line;
        std::vector<std::string> numbers;
        for (const TAtDial& d : line.Dials)
            numbers.push_back(d.Known ? d.Number : "?");
        EXPECT_EQ(numbers, c.Numbers) << c.Line;
    }
}

TEST(AtScanner, TracksEchoVerboseAndQuiet) {
    TAtLine a = ScanAtLine("ATE0V0Q1");
    EXPECT_EQ(a.Echo, false);
    EXPECT_EQ(a.Verbose, false);
    EXPECT_EQ(a.Quiet, true);
    TAtLine b = ScanAtLine("ATE0Z");
    EXPECT_TRUE(b.Reset);
    EXPECT_FALSE(b.Echo.has_value());
    EXPECT_TRUE(ScanAtLine("A/").Repeat);
}

TEST(AtScanner, ClassifiesResultCodes) {
    struct TCase {
        const char* Line;
        bool Verbose;
        TModemReply Reply;
    } cases[] = {
        {"CONNECT 33600/ARQ", true, TModemReply::mrConnect},
        {"NO CARRIER", true, TModemReply::mrNoCarrier},
        {"  BUSY ", true, TModemReply::mrBusy},
        {"NO DIALTONE", true, TModemReply::mrNoDialtone},
        {"NO DIAL TONE", true, TModemReply::mrNoDialtone},
        {"NO ANSWER", true, TModemReply::mrNoAnswer},
        {"ERROR", true, TModemReply::mrError},
        {"OK", true, TModemReply::mrOk},
        {"RING", true, TModemReply::mrRing},
        {"ATDT123", true, TModemReply::mrNone}, // the echo of a command
        {"3", true, TModemReply::mrNone},       // numeric codes only count in numeric mode
        {"3", false, TModemReply::mrNoCarrier},
        {"1", false, TModemReply::mrConnect},
        {"7", false, TModemReply::mrBusy},
        {"0", false, TModemReply::mrOk},
        {"", true, TModemReply::mrNone},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ClassifyModemReply(c.Line, c.Verbose), c.Reply) << c.Line;
}
