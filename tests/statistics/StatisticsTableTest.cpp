#include "statistics/uStatisticsTable.h"

#include <gtest/gtest.h>

namespace {

TEST(StatisticsTable, CellTextsAndTimeFormats) {
    struct TCase {
        TStatPair Pair;
        const char* Text;
    } cases[] = {
        {{0, 0}, ""},
        {{500, 0}, ""},
        {{5, -1}, ""},
        {{0, 1}, "0:0:0 [1]"},
        {{3725, 2}, "1:2:5 [2]"},
        {{86399, 3}, "23:59:59 [3]"},
        {{90000, 1}, "25:0:0 [1]"},
        {{2147483647, 2147483647}, "596523:14:7 [2147483647]"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(StatisticsCellText(c.Pair), c.Text) << c.Pair.Time << " " << c.Pair.Count;
    EXPECT_EQ(FormatSeconds("hh:nn:ss", 3725), "01:02:05");
    EXPECT_EQ(FormatSeconds("h:n:s", -3), "0:0:0");
}

} // namespace
