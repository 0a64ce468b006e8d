#include "rds/RDSProgramme.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Days since 1970-01-01 for a proleptic Gregorian date, and back (H. Hinnant's civil-date
// algorithms); valid for any year the 16-bit MJD can reach.
long daysFromCivil(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<long>(era) * 146097 + dayOfEra - 719468;
}

void civilFromDays(long days, int& year, int& month, int& day) {
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

std::string RDSClockTime::localISO8601() const {
    constexpr long kMinutesPerDay = 24 * 60;
    const long utcMinutes = daysFromCivil(year, month, day) * kMinutesPerDay + hourUTC * 60L + minuteUTC;
    const long localMinutes = utcMinutes + localOffsetHalfHours * 30L;
    // Floor division: local times before midnight UTC of the epoch would round the wrong way.
    long localDays = localMinutes / kMinutesPerDay;
    long minuteOfDay = localMinutes % kMinutesPerDay;
    if (minuteOfDay < 0) {
        minuteOfDay += kMinutesPerDay;
        --localDays;
    }
    int localYear = 0, localMonth = 0, localDay = 0;
    civilFromDays(localDays, localYear, localMonth, localDay);
    const int offsetMinutes = std::abs(localOffsetHalfHours) * 30;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02ld:%02ld:00%c%02d:%02d", localYear, localMonth, localDay,
                  minuteOfDay / 60, minuteOfDay % 60, localOffsetHalfHours < 0 ? '-' : '+', offsetMinutes / 60,
                  offsetMinutes % 60);
    return text;
}

std::string RDSGroupReport::groupName() const { return std::to_string(groupType) + (versionB ? "B" : "A"); }
