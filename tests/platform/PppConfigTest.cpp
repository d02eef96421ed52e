#include "platform/linux/uPppConfig.h"

#include <gmock/gmock.h>

using namespace qm::ppp;

TEST(PppConfig, AtDialStrings) {
    struct TCase {
        const char* Line;
        std::optional<std::string> Dial;
    } cases[] = {
        {"ATDT0202122", "0202122"},
        {"atdp 0 700 12 ", "0 700 12"},
        {"ATX3DT0202122", "0202122"},
        {"AT&D2", std::nullopt}, // DTR handling, not a dial
        {"AT&FE0V1&D2&C1S0=0", std::nullopt},
        {"AT&D2DT0300", "0300"},
        {"ATS7=60DT0300", "0300"},
        {"ATM1L0DP0400", "0400"}, // L0 is the speaker; the dial follows
        {"ATDT0300;", "0300"},
        {"ATD*99#", "*99#"},
        {"AT+CGDCONT=1,\"IP\",\"a;D1\";DT0301", "0301"},
        {"ATDL", ""}, // redial: no number of its own
        {"ATDTL", ""},
        {"ATDS=2", ""}, // a stored number
        {"ATD>3", ""},
        {"ATZ", std::nullopt},
        {"", std::nullopt},
        {"CONNECT", std::nullopt},
        {"ATD", ""},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(DialStringOfAtCommand(c.Line), c.Dial) << c.Line;
}

TEST(PppConfig, OptionWordsFollowPppdQuoting) {
    struct TCase {
        const char* Text;
        std::vector<std::string> Words;
    } cases[] = {
        {"lock  noauth\n# connect x\nuser jan", {"lock", "noauth", "user", "jan"}},
        {"connect \"chat -v '' ATZ\"", {"connect", "chat -v '' ATZ"}},
        {"connect 'a \"b\" c'", {"connect", "a \"b\" c"}},
        {"name a#b", {"name", "a#b"}}, // "#" inside a word is no comment
        {"x \"a\\\"b\\x41\\101\\s\"", {"x", "a\"bAA "}},
        {"x ab\\\ncd", {"x", "abcd"}}, // continuation
        {"x pre\"in side\"post", {"x", "prein sidepost"}},
        {"x \"unterminated", {"x", "unterminated"}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(SplitOptionWords(c.Text), c.Words) << c.Text;
}

TEST(PppConfig, ConnectCommands) {
    struct TCase {
        const char* Command;
        bool IsChat;
        std::string File, Phone;
        std::vector<std::string> Script;
    } cases[] = {
        {"/usr/sbin/chat -v -f /etc/chatscripts/provider", true, "/etc/chatscripts/provider", "", {}},
        {"chat -vf/etc/c -T 123", true, "/etc/c", "123", {}},
        {"exec chat -T'0 1' '' 'ATDT\\T' ATDT\\T", true, "", "0 1", {"", "ATDT\\T", "ATDTT"}},
        {"LANG=C chat \"\" \"AT\\\"X\" 2>/dev/null; echo done", true, "", "", {"", "AT\"X"}},
        {"chat -t 3 -- -x y", true, "", "", {"-x", "y"}},
        {"/usr/local/bin/my-dialer -f x", false, "", "", {}},
        {"wvdial work", false, "", "", {}},
        {"", false, "", "", {}},
    };
    for (const TCase& c : cases) {
        const TChatCall call = ParseConnectCommand(c.Command);
        EXPECT_EQ(call.IsChat, c.IsChat) << c.Command;
        EXPECT_EQ(call.ScriptFile, c.File) << c.Command;
        EXPECT_EQ(call.Phone, c.Phone) << c.Command;
        if (c.IsChat) {
            EXPECT_EQ(call.InlineScript, c.Script) << c.Command;
        }
    }
}

TEST(PppConfig, ChatScriptsAndTheirSends) {
    const auto tokens =
        SplitChatScript("# comment ATDT0999\nABORT 'NO CARRIER' TIMEOUT 5\n'' \"AT\\T\" OK 'ATDT\\T\\d'\n");
    EXPECT_EQ(tokens, (std::vector<std::string>{"ABORT", "NO CARRIER", "TIMEOUT", "5", "", "AT\\T", "OK",
                                                "ATDT\\T\\d"}));
    EXPECT_EQ(DialedNumberOfChatScript(tokens, "0202", ""), "0202");
    // A keyword's value is not sent: "ATDT1" after SAY is text for the user.
    EXPECT_EQ(DialedNumberOfChatScript({"SAY", "ATDT1", "", "ATDT2"}, "", ""), "2");
    EXPECT_EQ(CleanChatSend("ATDT\\U,\\T\\c\\s^M", "1", "9"), "ATDT9,1 \r");
}

TEST(PppConfig, WvdialMergesDefaultsAndInheritance) {
    const TWvdialConf conf = ParseWvdialConf("[Dialer Defaults]\nPhone = 0999\nModem=/dev/ttyS0\n"
                                             "[Dialer a]\nphone= 0 1 \n[Dialer b]\nUsername = x\n"
                                             "[dialer c]\nInherits = a\n[Dialer d]\nInherits = Dialer e\n"
                                             "[Dialer e]\nInherits = d\n[Modem x]\nPhone = 5\n");
    EXPECT_EQ(WvdialDialers(conf), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    EXPECT_EQ(WvdialValue(conf, "a", "Phone"), "0 1");
    EXPECT_EQ(WvdialValue(conf, "b", "PHONE"), "0999");
    EXPECT_EQ(WvdialValue(conf, "C", "Phone"), "0 1");
    EXPECT_EQ(WvdialValue(conf, "d", "Phone"), "0999"); // an inheritance loop ends
    EXPECT_EQ(WvdialValue(conf, "a", "Modem"), "/dev/ttyS0");
    EXPECT_EQ(WvdialValue(conf, "a", "Init9"), std::nullopt);
    EXPECT_FALSE(HasWvdialDialer(conf, "Defaults"));
    EXPECT_FALSE(HasWvdialDialer(conf, "x"));

    // Blanks other than one space after "Dialer" once listed a dialer that had no number.
    const TWvdialConf spaced = ParseWvdialConf(
        "[Dialer\twork]\nPhone = 1\n[Dialer  home]\nPhone = 2\n[Dialer \t Defaults]\nModem = m\n");
    EXPECT_EQ(WvdialDialers(spaced), (std::vector<std::string>{"work", "home"}));
    EXPECT_EQ(WvdialValue(spaced, "work", "Phone"), "1");
    EXPECT_EQ(WvdialValue(spaced, "home", "Phone"), "2");
    EXPECT_EQ(WvdialValue(spaced, "home", "Modem"), "m");
}
