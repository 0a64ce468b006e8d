#include "rds/RDSProgramme.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Days since 1970-01-01 of a Gregorian date and back (H. Hinnant's civil calendar
// algorithms); valid for any year, so a local time may cross month and year ends.
long long daysFromCivil(int year, int month, int day) {
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<long long>(era) * 146097 + dayOfEra - 719468;
}

void civilFromDays(long long days, int& year, int& month, int& day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<int>(days - era * 146097);
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(yearOfEra + era * 400) + (month <= 2 ? 1 : 0);
}

long long floorDiv(long long a, long long b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

}  // namespace

std::string RDSClockTime::localISO8601() const {
    const long long utcMinutes = daysFromCivil(year, month, day) * 1440 + hourUTC * 60 + minuteUTC;
    const long long localMinutes = utcMinutes + localOffsetHalfHours * 30LL;
    const long long localDays = floorDiv(localMinutes, 1440);
    const auto minuteOfDay = static_cast<int>(localMinutes - localDays * 1440);
    int y = 0, m = 0, d = 0;
    civilFromDays(localDays, y, m, d);
    const int offsetMinutes = std::abs(localOffsetHalfHours) * 30;
    char out[96];  // room for any int year, so no truncation
    std::snprintf(out, sizeof out, "%04d-%02d-%02dT%02d:%02d:00%c%02d:%02d", y, m, d,
                  minuteOfDay / 60, minuteOfDay % 60, localOffsetHalfHours < 0 ? '-' : '+',
                  offsetMinutes / 60, offsetMinutes % 60);
    return out;
}

std::string RDSGroupReport::groupName() const {
    return std::to_string(groupType) + (versionB ? "B" : "A");
}
