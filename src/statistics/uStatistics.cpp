#include "statistics/uStatistics.h"

#include <cmath>
#include <limits>

namespace {

constexpr const char* kDayNames[7] = {"poniedz.", "wtorek", "środa",    "czwartek",
                                      "piątek",   "sobota", "niedziela"};

std::string TimeKey(const std::string& number) {
    return "time_" + number;
}

std::string CountKey(const std::string& number) {
    return "concount_" + number;
}

// A counter the user (or another program) left negative counts as nothing, not as a debt.
std::int32_t ReadCounter(TAppIni& ini, const std::string& key, const char* section) {
    const int value = ini.ReadInt(key, 0, section);
    return value < 0 ? 0 : value;
}

} // namespace

int DayOfWeekMonday(qm::TDateTime date) {
    // Day 0 (30 December 1899) was a Saturday.
    const std::int64_t day = static_cast<std::int64_t>(std::floor(date));
    const std::int64_t fromMonday = ((day + 5) % 7 + 7) % 7;
    return static_cast<int>(fromMonday) + 1;
}

TDayInfo GetDayInfo(qm::TDateTime date) {
    TDayInfo info;
    const qm::TDateParts parts = qm::DecodeDateTime(date);
    info.DayNo = qm::DayNumber(date);
    info.DayOfWeek = DayOfWeekMonday(date);
    info.WeekNo = (info.DayNo - info.DayOfWeek) / 7;
    info.Day = parts.Day;
    info.Month = parts.Month;
    info.Year = parts.Year;
    info.MonthNo = parts.Year * 12 + parts.Month;
    info.IsWeekend = info.DayOfWeek >= 6;
    info.DayName = kDayNames[info.DayOfWeek - 1];
    info.WeekStart = date - (info.DayOfWeek - 1);
    info.WeekEnd = date + (7 - info.DayOfWeek);
    return info;
}

std::int32_t SaturatingAdd(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = static_cast<std::int64_t>(a) + b;
    if (sum > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (sum < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(sum);
}

TConnectionStats ReadStatistics(TAppIni& ini, const std::string& number) {
    TConnectionStats stats;
    const std::string timeKey = TimeKey(number);
    const std::string countKey = CountKey(number);
    for (int p = 0; p < kStatPeriodCount; ++p) {
        stats.Periods[p].Time = ReadCounter(ini, timeKey, kStatSections[p]);
        stats.Periods[p].Count = ReadCounter(ini, countKey, kStatSections[p]);
    }
    return stats;
}

void TStatisticsStore::UpdateStatistics(const std::string& number, bool newConnection) {
    TAppIni& ini = FContext.Ini;
    // One replacement of the file for the whole call: a crash leaves the file as it was before the
    // call or after it, never with a second counted in one period and not in another.
    TAppIniUpdate group(ini);
    TConnectionStats stats = ReadStatistics(number);
    for (TStatPair& pair : stats.Periods) {
        if (newConnection)
            pair.Count = SaturatingAdd(pair.Count, 1);
        else
            pair.Time = SaturatingAdd(pair.Time, 1);
    }

    const TDayInfo old = GetDayInfo(ini.ReadInt(kLastStatWriteKey, 0, kStatMainSection));
    const TDayInfo now = GetDayInfo(FContext.Clock.Now());
    // Any difference starts a new period, so a clock set back does too. The pair of the call that
    // rolled a period over is (0, 1) whichever kind of call it was.
    const bool rolled[kStatPeriodCount] = {old.DayNo != now.DayNo, old.WeekNo != now.WeekNo,
                                           old.MonthNo != now.MonthNo, false};
    for (int p = 0; p < kStatPeriodCount; ++p) {
        if (!rolled[p])
            continue;
        stats.Periods[p] = {.Time = 0, .Count = 1};
        ini.EraseSection(kStatSections[p]);
    }
    ini.WriteFloat(kLastStatWriteKey, kStatMainSection, now.DayNo);

    const std::string timeKey = TimeKey(number);
    const std::string countKey = CountKey(number);
    for (int p = 0; p < kStatPeriodCount; ++p) {
        ini.WriteInt(timeKey, stats.Periods[p].Time, kStatSections[p]);
        ini.WriteInt(countKey, stats.Periods[p].Count, kStatSections[p]);
    }
}
