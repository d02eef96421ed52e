#include "util/uDateTime.h"

#include <cmath>

namespace qm {
namespace {

// Howard Hinnant's civil-date algorithms, shifted from 1970-01-01 to 1899-12-30.
constexpr std::int64_t kUnixEpochDay = 25569; // 1970-01-01 as a day number

std::int64_t DaysFromUnixCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromUnixDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

} // namespace

std::int32_t DaysFromCivil(int year, int month, int day) {
    return static_cast<std::int32_t>(
        DaysFromUnixCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kUnixEpochDay);
}

TDateTime EncodeDateTime(const TDateParts& p) {
    const double time =
        (p.Hour * 3600000.0 + p.Minute * 60000.0 + p.Second * 1000.0 + p.Millisecond) / 86400000.0;
    return DaysFromCivil(p.Year, p.Month, p.Day) + time;
}

TDateParts DecodeDateTime(TDateTime value) {
    TDateParts p;
    const double dayPart = std::floor(value);
    std::int64_t ms = std::llround((value - dayPart) * 86400000.0);
    std::int64_t days = static_cast<std::int64_t>(dayPart);
    if (ms >= 86400000) {
        ms -= 86400000;
        ++days;
    }
    CivilFromUnixDays(days - kUnixEpochDay, p.Year, p.Month, p.Day);
    p.Hour = static_cast<int>(ms / 3600000);
    p.Minute = static_cast<int>(ms / 60000 % 60);
    p.Second = static_cast<int>(ms / 1000 % 60);
    p.Millisecond = static_cast<int>(ms % 1000);
    return p;
}

std::int32_t DayNumber(TDateTime value) {
    return static_cast<std::int32_t>(std::floor(value));
}

} // namespace qm
