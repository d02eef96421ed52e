#include "statistics/uStatisticsTable.h"

#include "guard/uAllowedNumbers.h"
#include "util/uFormat.h"

namespace {

// The separator of the Polish time format.
constexpr char kTimeSeparator = ':';

void AppendNumber(std::string& out, std::int64_t value, bool twoDigits) {
    if (twoDigits && value < 10)
        out += '0';
    out += std::to_string(value);
}

} // namespace

std::string FormatSeconds(const std::string& pattern, std::int64_t seconds) {
    if (seconds < 0)
        seconds = 0;
    const std::int64_t parts[3] = {seconds / 3600, seconds / 60 % 60, seconds % 60};
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        const int part = lower == 'h' ? 0 : lower == 'n' ? 1 : lower == 's' ? 2 : -1;
        if (part < 0) {
            out += c == ':' ? kTimeSeparator : c;
            continue;
        }
        const bool twoDigits = i + 1 < pattern.size() && (pattern[i + 1] == c);
        if (twoDigits)
            ++i;
        AppendNumber(out, parts[part], twoDigits);
    }
    return out;
}

std::string StatisticsCellText(const TStatPair& pair) {
    if (pair.Count <= 0)
        return {};
    return qm::Format("%s [%d]", FormatSeconds("h:n:s", pair.Time), pair.Count);
}

void TStatisticsTable::SetStatisticsHeaders() {
    FContext.View.ShowStatisticsHeaders({"", "dzienna", "tygodniowa", "miesięczna", "globalna"});
}

void TStatisticsTable::RefreshStatistics() {
    std::vector<std::string> numbers;
    FContext.Ini.ReadList(kAllowedConnectionsSection, numbers);
    std::vector<TStatisticsRow> rows;
    rows.reserve(numbers.size());
    for (const std::string& number : numbers) {
        const TConnectionStats stats = ReadStatistics(FContext.Ini, number);
        rows.push_back({number, StatisticsCellText(stats[TStatPeriod::spDay]),
                        StatisticsCellText(stats[TStatPeriod::spWeek]),
                        StatisticsCellText(stats[TStatPeriod::spMonth]),
                        StatisticsCellText(stats[TStatPeriod::spGlobal])});
    }
    FContext.View.ShowStatisticsRows(rows);
}
