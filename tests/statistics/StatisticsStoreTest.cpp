// The statistics store over the real settings store on a fake file system, with the clock set by
// the test: periods, rollover, counter limits and hostile numbers as key names.
#include "statistics/uStatistics.h"

#include "fakes/FakePorts.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

constexpr const char* kPath = "/app/QmVardel.ini";

qm::TDateTime Date(int year, int month, int day, int hour = 12) {
    return qm::EncodeDateTime({.Year = year, .Month = month, .Day = day, .Hour = hour});
}

TConnectionStats Stats(TStatPair day, TStatPair week, TStatPair month, TStatPair global) {
    return TConnectionStats{{day, week, month, global}};
}

struct TStoreRig {
    TFakeFileSystem Files;
    TFakeClock Clock;
    TAppIni Ini{kPath, Files};
    TStatisticsStore Store{{.Ini = Ini, .Clock = Clock}};

    explicit TStoreRig(const std::string& content = "") {
        if (!content.empty())
            Files.Put(kPath, content);
    }
    std::string Text() const { return Files.Files.at(kPath).Content; }
};

TEST(StatisticsStore, DayInfoOfKnownDates) {
    struct TCase {
        int Y, M, D;
        std::int32_t DayNo, WeekNo, DayOfWeek;
        const char* Name;
    } cases[] = {
        {2004, 1, 15, 38001, 5428, 4, "czwartek"},  {2004, 1, 10, 37996, 5427, 6, "sobota"},
        {2004, 1, 11, 37997, 5427, 7, "niedziela"}, {2004, 1, 12, 37998, 5428, 1, "poniedz."},
        {2004, 1, 14, 38000, 5428, 3, "środa"},     {1899, 12, 30, 0, -1, 6, "sobota"},
    };
    for (const TCase& c : cases) {
        const qm::TDateTime date = Date(c.Y, c.M, c.D, 18);
        const TDayInfo info = GetDayInfo(date);
        EXPECT_EQ(info.DayNo, c.DayNo) << c.Name;
        EXPECT_EQ(info.WeekNo, (c.DayNo - c.DayOfWeek) / 7) << c.Name;
        if (c.Y == 2004) {
            EXPECT_EQ(info.WeekNo, c.WeekNo) << c.Name;
        }
        EXPECT_EQ(info.DayOfWeek, c.DayOfWeek) << c.Name;
        EXPECT_EQ(DayOfWeekMonday(date), c.DayOfWeek) << c.Name;
        EXPECT_EQ(info.DayName, c.Name);
        EXPECT_EQ(info.MonthNo, c.Y * 12 + c.M) << c.Name;
        EXPECT_EQ(info.IsWeekend, c.DayOfWeek >= 6) << c.Name;
        EXPECT_EQ(info.WeekStart, date - (c.DayOfWeek - 1)) << c.Name;
        EXPECT_EQ(GetDayInfo(info.WeekEnd).DayOfWeek, 7) << c.Name;
        EXPECT_EQ(GetDayInfo(info.WeekEnd).WeekNo, info.WeekNo) << c.Name;
    }
}

TEST(StatisticsStore, FirstCallsOnAFreshFileAndALengthyConnection) {
    struct TCase {
        bool NewConnection;
        TConnectionStats After;
    } cases[] = {
        {true, Stats({0, 1}, {0, 1}, {0, 1}, {0, 1})},
        {false, Stats({0, 1}, {0, 1}, {0, 1}, {1, 0})},
    };
    for (const TCase& c : cases) {
        TStoreRig rig;
        rig.Clock.Time = Date(2004, 1, 15, 10);
        rig.Store.UpdateStatistics("0202122", c.NewConnection);
        EXPECT_EQ(rig.Store.ReadStatistics("0202122"), c.After) << c.NewConnection;
        EXPECT_NE(rig.Text().find("last_stat_write=38001\n"), std::string::npos) << rig.Text();
        EXPECT_EQ(rig.Files.Replacements, 1) << "nine writes, one replacement of the file";
    }

    // Within one day: a connection and 60 ticks add 60 s and one connection to what was there.
    TStoreRig rig;
    rig.Clock.Time = Date(2004, 1, 15, 10);
    rig.Store.UpdateStatistics("0202122", true);
    rig.Store.UpdateStatistics("0202122", true);
    for (int i = 0; i < 60; ++i)
        rig.Store.UpdateStatistics("0202122", false);
    EXPECT_EQ(rig.Store.ReadStatistics("0202122"), Stats({60, 2}, {60, 2}, {60, 2}, {60, 2}));
    EXPECT_EQ(rig.Files.Replacements, 62);
}

TEST(StatisticsStore, TheFirstWriteOfANewPeriodRollsItOverForEveryNumber) {
    // Before: Sunday 11 January 2004 for two rows, Saturday 31 January for the third.
    const std::string before = "[main]\nlast_stat_write=%LAST%\n"
                               "[day_statistics]\ntime_A=10\nconcount_A=2\ntime_B=7\nconcount_B=1\n"
                               "[week_statistics]\ntime_A=20\nconcount_A=3\ntime_B=8\nconcount_B=1\n"
                               "[month_statistics]\ntime_A=30\nconcount_A=4\ntime_B=9\nconcount_B=1\n"
                               "[global_statistics]\ntime_A=40\nconcount_A=5\ntime_B=11\nconcount_B=1\n";
    const TConnectionStats bBefore = Stats({7, 1}, {8, 1}, {9, 1}, {11, 1});
    struct TCase {
        const char* Name;
        std::int32_t Last;
        qm::TDateTime Now;
        bool Day, Week, Month;
    } cases[] = {
        {"same day", 37997, Date(2004, 1, 11, 23), false, false, false},
        {"Monday after midnight", 37997, Date(2004, 1, 12, 0), true, true, false},
        {"Tuesday", 37998, Date(2004, 1, 13, 0), true, false, false},
        {"first of a month on a Sunday", 38017, Date(2004, 2, 1, 0), true, false, true},
        {"clock set back a day", 37998, Date(2004, 1, 11, 23), true, true, false},
        {"missing date", 0, Date(2004, 1, 11, 23), true, true, true},
    };
    for (const TCase& c : cases) {
        std::string text = before;
        text.replace(text.find("%LAST%"), 6, std::to_string(c.Last));
        TStoreRig rig(text);
        rig.Clock.Time = c.Now;
        EXPECT_EQ(rig.Store.ReadStatistics("B"), bBefore) << c.Name << ": reading rolls nothing over";
        rig.Store.UpdateStatistics("A", false);
        const bool rolled[4] = {c.Day, c.Week, c.Month, false};
        const TConnectionStats a = rig.Store.ReadStatistics("A");
        const TConnectionStats b = rig.Store.ReadStatistics("B");
        const std::int32_t oldTime[4] = {10, 20, 30, 40}, oldCount[4] = {2, 3, 4, 5};
        for (int p = 0; p < 4; ++p) {
            const TStatPair expectA = rolled[p] ? TStatPair{0, 1} : TStatPair{oldTime[p] + 1, oldCount[p]};
            EXPECT_EQ(a.Periods[p], expectA) << c.Name << " period " << p;
            EXPECT_EQ(b.Periods[p], rolled[p] ? TStatPair{} : bBefore.Periods[p])
                << c.Name << " period " << p;
        }
        EXPECT_EQ(rig.Ini.ReadInt(kLastStatWriteKey, -1, "main"), qm::DayNumber(c.Now)) << c.Name;
    }
}

TEST(StatisticsStore, CountersStayWithinRangeAndBadValuesCountFromZero) {
    struct TCase {
        const char* Stored;
        std::int32_t Read, AfterTick;
    } cases[] = {
        {"2147483647", 2147483647, 2147483647},
        {"2147483646", 2147483646, 2147483647},
        {"-5", 0, 1},
        {"abc", 0, 1},
        {"$FFFFFFFF", 0, 1},
        {"99999999999", 0, 1},
        {"", 0, 1},
    };
    for (const TCase& c : cases) {
        std::string text = "[main]\nlast_stat_write=38001\n";
        for (const char* section : kStatSections)
            text += std::string("[") + section + "]\ntime_7=" + c.Stored + "\nconcount_7=" + c.Stored + "\n";
        TStoreRig rig(text);
        rig.Clock.Time = Date(2004, 1, 15);
        for (const TStatPair& pair : rig.Store.ReadStatistics("7").Periods)
            EXPECT_EQ(pair, (TStatPair{c.Read, c.Read})) << c.Stored;
        rig.Store.UpdateStatistics("7", false);
        rig.Store.UpdateStatistics("7", true);
        for (const TStatPair& pair : rig.Store.ReadStatistics("7").Periods)
            EXPECT_EQ(pair, (TStatPair{c.AfterTick, c.AfterTick})) << c.Stored;
    }
}

// Numbers come from hook records: any bytes. Whatever they hold, each number's counters are its
// own, nothing else in the file changes, and a fresh read of the file agrees (the oracle is a map).
TEST(StatisticsStore, HostileNumbersAreKeyNamesThatCannotBreakTheFile) {
    std::mt19937 random(14);
    using namespace std::string_literals;
    const std::string alphabet = "=[];#\\e: \t\r\n\"'0123456789+-xX$\0\x7f\xc5\x9b\xff"s;
    std::vector<std::string> numbers = {
        "",       "=",     "[day_statistics]", "\n[main]\nlast_stat_write=1", "\\e:7", ";7", " 7 ", "7=8",
        "TIME_7", "time_7"};
    for (int i = 0; i < 150; ++i) {
        std::string number;
        const int length = static_cast<int>(random() % 12);
        for (int k = 0; k < length; ++k)
            number += alphabet[random() % alphabet.size()];
        numbers.push_back(number);
    }
    const std::string header = "; kept\n[main]\nfirst_run_flg=0\n[allowed_connections]\n0=0202122\n";
    TStoreRig rig(header);
    rig.Clock.Time = Date(2004, 1, 15);
    std::map<std::string, TStatPair> expected; // key names compare without letter case
    const auto fold = [](std::string s) {
        for (char& ch : s)
            if (ch >= 'A' && ch <= 'Z')
                ch = static_cast<char>(ch - 'A' + 'a');
        return s;
    };
    for (std::size_t i = 0; i < numbers.size() * 3; ++i) {
        const std::string& number = numbers[random() % numbers.size()];
        const bool connection = random() % 3 == 0;
        rig.Store.UpdateStatistics(number, connection);
        TStatPair& pair = expected[fold(number)];
        (connection ? pair.Count : pair.Time) += 1;
    }
    TAppIni fresh(kPath, rig.Files);
    TStatisticsStore reread({.Ini = fresh, .Clock = rig.Clock});
    for (const std::string& number : numbers) {
        const auto it = expected.find(fold(number));
        const TStatPair want = it == expected.end() ? TStatPair{} : it->second;
        for (const TStatPair& pair : reread.ReadStatistics(number).Periods)
            ASSERT_EQ(pair, want) << "number of " << number.size() << " bytes";
    }
    EXPECT_EQ(rig.Text().rfind("; kept\n[main]\nfirst_run_flg=0\n", 0), 0u) << "what was there stays";
    EXPECT_EQ(fresh.ReadInt(kLastStatWriteKey, 0, "main"), 38001);
    std::vector<std::string> allowed;
    fresh.ReadList("allowed_connections", allowed);
    EXPECT_EQ(allowed, std::vector<std::string>{"0202122"});
    // Exactly the program's sections, each once.
    std::size_t sections = 0;
    for (std::size_t at = 0; (at = rig.Text().find("\n[", at)) != std::string::npos; ++at)
        ++sections;
    EXPECT_EQ(sections, 6u) << rig.Text();
}

} // namespace
