// A connection counted end to end: the real program with a stand-in for the hook service's line
// feed (the feed's text protocol on a socket of the test's own) and its timers running 50 times
// faster, a dial request through vardel-hook, then DIALING, CONNECTED, some seconds and IDLE as the
// service reports them. The settings file must then hold those seconds and one connection in every
// period. Skips when Xvfb or xdotool is not installed.
#include "ProgramOnXvfb.h"

#include "platform/ITelephony.h"
#include "support/StandInLineFeed.h"

#include <regex>

namespace {

class StatisticsE2E : public TProgramOnXvfb {
protected:
    void BeforeStart() override {
        const QString feed = FTemp.filePath(QStringLiteral("line.sock"));
        ASSERT_TRUE(Feed.Listen(feed.toStdString()));
        FEnv.insert(QStringLiteral("VARDELD_LINE_SOCKET"), feed);
        FEnv.insert(QStringLiteral("QMVARDEL_TIMER_DIVISOR"), QStringLiteral("50"));
    }
    // The value of key in section of the settings file, or -1.
    int IniValue(const std::string& section, const std::string& key) const {
        const std::string text = Ini();
        const std::size_t start = text.find("[" + section + "]");
        if (start == std::string::npos)
            return -1;
        const std::size_t end = text.find("\n[", start + 1);
        const std::string body =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::smatch m;
        if (!std::regex_search(body, m, std::regex("\n" + key + "=(-?[0-9]+)")))
            return -1;
        return std::stoi(m[1]);
    }
    TStandInLineFeed Feed;
};

} // namespace

TEST_F(StatisticsE2E, AConnectionsSecondsAndCountReachTheSettingsFile) {
    ASSERT_TRUE(Feed.WaitSubscribed()) << Log();
    auto hook = StartHook({"dial", "--tag", "1", "0202122"});
    ASSERT_EQ(ResultOf(*hook), "0") << Log();
    Feed.CallState(kLineCallStateDialing);
    Feed.CallState(kLineCallStateConnected);
    // One connection at once, then a second every 20 ms.
    ASSERT_TRUE(WaitUntil([&] { return IniValue("global_statistics", "time_0202122") >= 3; }))
        << Ini() << Log();
    Feed.CallState(kLineCallStateDisconnected);
    Feed.CallState(kLineCallStateIdle);
    // Once the end is reported the seconds stop: two looks a while apart agree.
    int seconds = -1;
    ASSERT_TRUE(WaitUntil([&] {
        const int before = IniValue("global_statistics", "time_0202122");
        QThread::msleep(200);
        seconds = IniValue("global_statistics", "time_0202122");
        return seconds == before;
    })) << Ini();
    for (const char* section :
         {"day_statistics", "week_statistics", "month_statistics", "global_statistics"}) {
        EXPECT_EQ(IniValue(section, "concount_0202122"), 1) << section << "\n" << Ini();
        EXPECT_EQ(IniValue(section, "time_0202122"), seconds) << section << "\n" << Ini();
    }
    EXPECT_GT(IniValue("main", "last_stat_write"), 40000) << Ini();
}
