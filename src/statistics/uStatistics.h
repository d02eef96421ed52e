#pragma once
// The connection statistics store: per number, the connection time in seconds and the number of
// connections of the current day, week (from Monday), month and all time. It keeps nothing of its
// own: every value lives in the settings file, and the periods roll over by the calendar at the
// first write of a new day, week or month. Section and key names are fixed; the number becomes
// part of a key name as the caller passes it (the settings store escapes what the format cannot
// hold, so a number from outside cannot break the file).
#include "core/uAppIni.h"
#include "platform/IClock.h"
#include "util/uDateTime.h"

#include <array>
#include <cstdint>
#include <string>

enum class TStatPeriod { spDay = 0, spWeek = 1, spMonth = 2, spGlobal = 3 };
inline constexpr int kStatPeriodCount = 4;

// The settings sections of the periods, in TStatPeriod order.
inline constexpr const char* kStatSections[kStatPeriodCount] = {"day_statistics", "week_statistics",
                                                                "month_statistics", "global_statistics"};
inline constexpr const char* kStatMainSection = "main";
inline constexpr const char* kLastStatWriteKey = "last_stat_write";

struct TStatPair {
    std::int32_t Time = 0;  // seconds
    std::int32_t Count = 0; // connections
    bool operator==(const TStatPair&) const = default;
};

// One pair per TStatPeriod, in that order.
struct TConnectionStats {
    std::array<TStatPair, kStatPeriodCount> Periods{};
    TStatPair& operator[](TStatPeriod period) { return Periods[static_cast<int>(period)]; }
    const TStatPair& operator[](TStatPeriod period) const { return Periods[static_cast<int>(period)]; }
    bool operator==(const TConnectionStats&) const = default;
};

struct TDayInfo {
    std::int32_t DayNo = 0;
    std::int32_t WeekNo = 0;  // (DayNo - DayOfWeek) div 7: the same from Monday to Sunday
    std::int32_t MonthNo = 0; // Year * 12 + Month
    std::int32_t Day = 0;
    std::int32_t DayOfWeek = 0; // 1 = Monday .. 7 = Sunday
    std::int32_t Month = 0;
    std::int32_t Year = 0;
    bool IsWeekend = false;
    std::string DayName; // Polish
    qm::TDateTime WeekStart = 0;
    qm::TDateTime WeekEnd = 0;
};

// 1 = Monday .. 7 = Sunday.
int DayOfWeekMonday(qm::TDateTime date);
TDayInfo GetDayInfo(qm::TDateTime date);

// The stored values of number without any rollover; a missing, non-numeric or negative value
// reads as 0. Needs no clock, so the view reads through it directly.
TConnectionStats ReadStatistics(TAppIni& ini, const std::string& number);

// a + b for counters: stays at 2147483647 instead of wrapping to a negative number.
std::int32_t SaturatingAdd(std::int32_t a, std::int32_t b);

struct TStatisticsStoreContext {
    TAppIni& Ini;
    const IClock& Clock;
};

class TStatisticsStore {
public:
    explicit TStatisticsStore(const TStatisticsStoreContext& context) : FContext(context) {}

    // One more connection (newConnection) or one more second of connection to number, in every
    // period, after rolling ended periods over. The nine writes reach the file as one replacement,
    // so the four periods always change together.
    void UpdateStatistics(const std::string& number, bool newConnection);
    // The stored values without any rollover; a missing, non-numeric or negative value reads as 0.
    TConnectionStats ReadStatistics(const std::string& number) {
        return ::ReadStatistics(FContext.Ini, number);
    }

private:
    TStatisticsStoreContext FContext;
};
