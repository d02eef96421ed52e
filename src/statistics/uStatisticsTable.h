#pragma once
// The statistics tab's table: one row per allowed number, in list order, with the time and count
// of each period as a cell text. It is filled on demand (at start, on entering the tab, by the
// refresh button), never by the statistics writes themselves.
#include "statistics/uStatistics.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using TStatisticsRow = std::array<std::string, 5>; // number, day, week, month, global

class IStatisticsView {
public:
    virtual ~IStatisticsView() = default;
    // The header row (its first cell empty).
    virtual void ShowStatisticsHeaders(const TStatisticsRow& headers) = 0;
    // Replaces every row below the header.
    virtual void ShowStatisticsRows(const std::vector<TStatisticsRow>& rows) = 0;
};

// The seconds as a time in pattern: "h" hours, "n" minutes, "s" seconds without a leading zero,
// "hh", "nn", "ss" with one, ":" the time separator; anything else is copied. Hours are whole
// hours, not an hour of the day, so a total of 24 hours or more keeps its days (90000 s: 25:0:0).
std::string FormatSeconds(const std::string& pattern, std::int64_t seconds);
// "h:n:s [count]", or empty when the count is 0 or less.
std::string StatisticsCellText(const TStatPair& pair);

struct TStatisticsTableContext {
    TAppIni& Ini;
    IStatisticsView& View;
};

class TStatisticsTable {
public:
    explicit TStatisticsTable(const TStatisticsTableContext& context) : FContext(context) {}
    void SetStatisticsHeaders();
    void RefreshStatistics();

private:
    TStatisticsTableContext FContext;
};
