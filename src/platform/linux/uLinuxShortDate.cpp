#include "platform/linux/uLinuxShortDate.h"

#include <clocale>
#include <ctime>

void UseEnvironmentTimeLocale() {
    std::setlocale(LC_TIME, "");
}

std::string LocaleShortDate(qm::TDateTime value) {
    const qm::TDateParts p = qm::DecodeDateTime(value);
    std::tm tm{};
    tm.tm_year = p.Year - 1900;
    tm.tm_mon = p.Month - 1;
    tm.tm_mday = p.Day;
    tm.tm_hour = p.Hour;
    tm.tm_min = p.Minute;
    tm.tm_sec = p.Second;
    tm.tm_isdst = -1;
    std::mktime(&tm); // fills in the day of the week for locales that show it
    char buffer[64];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%x", &tm);
    return std::string(buffer, n);
}
