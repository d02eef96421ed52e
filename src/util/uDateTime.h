#pragma once
// Local date-times as the program stores them: days since 30 December 1899 00:00 (day 0), the time
// of day as the fraction. A day number is the whole part of a local date-time.
#include <cstdint>

namespace qm {

using TDateTime = double;

struct TDateParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Days from 30 December 1899 to the given proleptic Gregorian date.
std::int32_t DaysFromCivil(int year, int month, int day);
TDateTime EncodeDateTime(const TDateParts& parts);
TDateParts DecodeDateTime(TDateTime value);
// The day number of a local date-time (whole days, rounded towards the earlier day).
std::int32_t DayNumber(TDateTime value);

} // namespace qm
